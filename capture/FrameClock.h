#pragma once
#include <cstdint>

// Millisecond readings for pacing frames. Only differences of two readings
// mean anything; they wrap modulo 2^32 and are formed in unsigned 32-bit
// arithmetic, which stays right across the wrap.

// Asks for the performance counter's frequency again; without a counter the
// readings come from the multimedia timer.
void calibrateClock();
uint32_t clockMilliseconds();

// The reading for a counter value at a frequency: the low 32 bits of
// count * 1000 / frequency, exact for every count and frequency (no 64-bit
// overflow, however fast the counter runs).
uint32_t counterToMilliseconds(int64_t count, int64_t frequency);

extern int64_t counterFrequency;
extern int32_t hasPerformanceCounter;
