// The millisecond clock: exact conversion of counter values, the wrap of the
// 32-bit reading, and readings that follow the system's own timer.
#include <windows.h>
#include <mmsystem.h>
#include <gtest/gtest.h>

#include "capture/FrameClock.h"

namespace {

constexpr int64_t kAcpiFrequency = 3579545;  // the classic ACPI power-management timer

TEST(FrameClockTest, ConvertsCountsAtTheAcpiTimerRate) {
  EXPECT_EQ(counterToMilliseconds(7159090, kAcpiFrequency), 2000u);
  EXPECT_EQ(counterToMilliseconds(0, kAcpiFrequency), 0u);
  // Truncated, not rounded: one count short of 2000 ms reads 1999.
  EXPECT_EQ(counterToMilliseconds(7159089, kAcpiFrequency), 1999u);
  EXPECT_EQ(counterToMilliseconds(3579, kAcpiFrequency), 0u);
  EXPECT_EQ(counterToMilliseconds(3580, kAcpiFrequency), 1u);
}

TEST(FrameClockTest, KeepsTheLow32BitsAcrossTheWrap) {
  // count * 1000 / frequency = 4,294,967,300 = 2^32 + 4.
  const int64_t after = 15374028723879;
  const int64_t before = 15374028688084;  // 4,294,967,290 ms
  EXPECT_EQ(counterToMilliseconds(after, kAcpiFrequency), 4u);
  EXPECT_EQ(counterToMilliseconds(before, kAcpiFrequency), 4294967290u);
  // Differences in unsigned 32-bit arithmetic are still the true 10 ms.
  const uint32_t difference =
      counterToMilliseconds(after, kAcpiFrequency) - counterToMilliseconds(before, kAcpiFrequency);
  EXPECT_EQ(difference, 10u);
}

TEST(FrameClockTest, StaysExactWhereCountTimesThousandOverflows) {
  // A 3 GHz counter 40 days after its zero: count * 1000 is about 1.04e19,
  // beyond a signed 64-bit number. The true quotient is 3,456,000,500 ms.
  const int64_t gigahertz3 = 3000000000;
  const int64_t count = gigahertz3 * 3456000 + gigahertz3 / 2;
  EXPECT_EQ(counterToMilliseconds(count, gigahertz3), 3456000500u);
  // 1,000 days at 10 MHz: 86,400,000,000 ms, whose low 32 bits are
  // 86,400,000,000 - 20 * 2^32 = 500,654,080.
  EXPECT_EQ(counterToMilliseconds(int64_t{10000000} * 86400 * 1000, 10000000), 500654080u);
  // The largest count there is, at 3 GHz: 3,074,457,345,618 ms (floor of
  // 9223372036854775807 / 3e6), low 32 bits 3,074,457,345,618 mod 2^32.
  EXPECT_EQ(counterToMilliseconds(INT64_MAX, gigahertz3),
            static_cast<uint32_t>(3074457345618ull % 4294967296ull));
}

TEST(FrameClockTest, TruncatesNegativeCountsTowardZero) {
  EXPECT_EQ(counterToMilliseconds(-1, 3), static_cast<uint32_t>(-333));
  EXPECT_EQ(counterToMilliseconds(-1500, 1000), static_cast<uint32_t>(-1500));
}

TEST(FrameClockTest, AFrequencyOfZeroReadsZeroInsteadOfDividing) {
  EXPECT_EQ(counterToMilliseconds(123456, 0), 0u);
  EXPECT_EQ(counterToMilliseconds(123456, -5), 0u);
}

TEST(FrameClockTest, CalibratingTwiceLeavesTheSameState) {
  calibrateClock();
  const int64_t frequency = counterFrequency;
  const int32_t has = hasPerformanceCounter;
  calibrateClock();
  EXPECT_EQ(counterFrequency, frequency);
  EXPECT_EQ(hasPerformanceCounter, has);
  LARGE_INTEGER expected = {};
  EXPECT_EQ(has != 0, QueryPerformanceFrequency(&expected) != 0);
  EXPECT_EQ(frequency, expected.QuadPart);
}

// Readings from the performance counter advance with the multimedia timer,
// an independent clock, within its granularity.
TEST(FrameClockTest, CounterReadingsFollowTheSystemTimer) {
  calibrateClock();
  ASSERT_TRUE(hasPerformanceCounter);
  const uint32_t clockStart = clockMilliseconds();
  const DWORD timerStart = timeGetTime();
  Sleep(200);
  const uint32_t clockElapsed = clockMilliseconds() - clockStart;
  const DWORD timerElapsed = timeGetTime() - timerStart;
  EXPECT_GE(clockElapsed, 190u);
  EXPECT_NEAR(static_cast<double>(clockElapsed), static_cast<double>(timerElapsed), 25.0);
}

TEST(FrameClockTest, WithoutACounterReadingsAreTheSystemTimer) {
  calibrateClock();
  hasPerformanceCounter = 0;
  const DWORD before = timeGetTime();
  const uint32_t reading = clockMilliseconds();
  const DWORD after = timeGetTime();
  calibrateClock();
  EXPECT_LE(before, reading);
  EXPECT_LE(reading, after);
}

}  // namespace
