#include "SampleTable.h"

#include <gtest/gtest.h>

namespace {

TEST(SampleTable, EqualDurationsShareARunAndChangesStartOne) {
  qt::SampleTable t;
  t.add(100, 10, 100);
  t.add(110, 11, 100);
  t.add(121, 12, 120);
  t.add(133, 13, 95);
  t.add(146, 14, 95);
  ASSERT_EQ(t.timeRuns().size(), 3u);
  EXPECT_EQ(t.timeRuns()[0].count, 2u);
  EXPECT_EQ(t.timeRuns()[0].duration, 100u);
  EXPECT_EQ(t.timeRuns()[1].count, 1u);
  EXPECT_EQ(t.timeRuns()[1].duration, 120u);
  EXPECT_EQ(t.timeRuns()[2].count, 2u);
  EXPECT_EQ(t.timeRuns()[2].duration, 95u);
  EXPECT_EQ(t.totalDuration(), 510u);
  EXPECT_EQ(t.count(), 5u);
  EXPECT_EQ(t.sizes()[3], 13u);
  EXPECT_EQ(t.offsets()[4], 146u);
}

TEST(SampleTable, LargeOffsetsOnlyPastFourGiB) {
  qt::SampleTable t;
  t.add(UINT32_MAX - 9, 10, 1);
  EXPECT_FALSE(t.needsLargeOffsets());
  t.add(uint64_t(UINT32_MAX) + 1, 10, 1);
  EXPECT_TRUE(t.needsLargeOffsets());
}

TEST(SampleTable, MemoryPerSampleStaysSmall) {
  qt::SampleTable t;
  const uint32_t n = 100000;
  for (uint32_t i = 0; i < n; ++i) t.add(uint64_t(i) * 1000, 1000, 33 + (i % 3));
  // 12 bytes of size and offset and 8 of run per sample, doubled at worst by
  // the vectors' spare capacity.
  EXPECT_LT(double(t.memoryBytes()) / n, 64.0);
}

TEST(SampleTable, SyncSamplesAreTheLeadingOnesAndThoseNamedAfterTheFirstNonSync) {
  qt::SampleTable t;
  const bool sync[] = {true, true, false, false, true, false, true, true, false};
  for (uint32_t i = 0; i < 9; ++i) {
    t.add(i * 10, 10, 40 + i % 2, sync[i]);
    EXPECT_EQ(t.allSync(), i < 2) << i;
  }
  std::vector<uint32_t> numbers;
  t.syncSamples(numbers);
  EXPECT_EQ(numbers, (std::vector<uint32_t>{0, 1, 4, 6, 7}));
  for (uint32_t i = 0; i < 9; ++i) EXPECT_EQ(t.isSync(i), sync[i]) << i;
  std::vector<uint32_t> durations;
  t.durationsFrom(3, durations);
  EXPECT_EQ(durations, (std::vector<uint32_t>{41, 40, 41, 40, 41, 40})) << "durations kept per sample";

  qt::SampleTable all;
  for (uint32_t i = 0; i < 1000; ++i) all.add(i, 1, 33);
  EXPECT_TRUE(all.allSync());
  all.syncSamples(numbers);
  EXPECT_EQ(numbers.size(), 1000u);
}

// Eight hours at 30 frames a second with a key frame every 2 seconds: the
// sync samples add a few bytes per key frame, nothing per other frame; all
// key frames add nothing at all.
TEST(SampleTable, KeyFramesOfEightHoursCostBytesPerKeyFrameOnly) {
  const uint32_t frames = 8 * 3600 * 30;
  qt::SampleTable keyed, allSync;
  for (uint32_t i = 0; i < frames; ++i) {
    keyed.add(uint64_t(i) * 500, 500, 33, i % 60 == 0);
    allSync.add(uint64_t(i) * 500, 500, 33);
  }
  std::vector<uint32_t> numbers;
  keyed.syncSamples(numbers);
  EXPECT_EQ(numbers.size(), frames / 60);
  EXPECT_EQ(numbers.back(), frames - 60);
  const size_t extra = keyed.memoryBytes() - allSync.memoryBytes();
  // 4 bytes a key frame, doubled at worst by spare capacity.
  EXPECT_LE(extra, size_t(frames / 60) * 8) << extra;
  EXPECT_LT(double(extra) / frames, 0.15);
}

}  // namespace
