#include "capture/FrameClock.h"

#include <windows.h>
#include <mmsystem.h>

int64_t counterFrequency = 0;
int32_t hasPerformanceCounter = 0;

void calibrateClock() {
  LARGE_INTEGER frequency = {};
  hasPerformanceCounter = QueryPerformanceFrequency(&frequency) && frequency.QuadPart > 0;
  counterFrequency = frequency.QuadPart;
}

uint32_t counterToMilliseconds(int64_t count, int64_t frequency) {
  // No counter runs at zero or negative speed; reading 0 beats dividing by it.
  if (frequency <= 0) return 0;
  // count * 1000 overflows 64 bits after about 35 days at processor rates.
  // Split count = q * frequency + r: q whole seconds give q * 1000 ms, and
  // r * 1000 / frequency stays below 1000 with r < frequency, so neither
  // product overflows. Truncation toward zero
  // is kept for negative counts, as plain division would give.
  const bool negative = count < 0;
  const uint64_t magnitude = negative ? 0 - static_cast<uint64_t>(count) : static_cast<uint64_t>(count);
  const uint64_t f = static_cast<uint64_t>(frequency);
  const uint64_t seconds = magnitude / f;
  const uint64_t rest = magnitude % f;
  // r * 1000 fits for every counter below 1.8e16 counts per second; above
  // that (no such counter exists) the fraction is approximated.
  const uint64_t fraction = rest <= UINT64_MAX / 1000 ? rest * 1000 / f : rest / (f / 1000);
  const uint64_t milliseconds = seconds * 1000 + fraction;  // wraps: only the low 32 bits matter
  return static_cast<uint32_t>(negative ? 0 - milliseconds : milliseconds);
}

uint32_t clockMilliseconds() {
  if (!hasPerformanceCounter) return timeGetTime();
  LARGE_INTEGER count;
  QueryPerformanceCounter(&count);
  return counterToMilliseconds(count.QuadPart, counterFrequency);
}
