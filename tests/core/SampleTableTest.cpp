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

}  // namespace
