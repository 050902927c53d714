#include "Handles.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

TEST(Handles, NewHandleGivesZeroedBlockOfTheSize) {
  Handle h = qt::NewHandle(40);
  ASSERT_NE(h, nullptr);
  ASSERT_NE(*h, nullptr);
  EXPECT_EQ(qt::GetHandleSize(h), 40);
  for (int i = 0; i < 40; ++i) EXPECT_EQ((*h)[i], 0) << "byte " << i;
  EXPECT_EQ(qt::DisposeHandle(h), noErr);
}

TEST(Handles, EmptyBlockStillHasAMasterPointer) {
  Handle h = qt::NewHandle(0);
  ASSERT_NE(h, nullptr);
  EXPECT_NE(*h, nullptr);
  EXPECT_EQ(qt::GetHandleSize(h), 0);
  EXPECT_EQ(qt::DisposeHandle(h), noErr);
}

TEST(Handles, NegativeSizeIsRefused) {
  EXPECT_EQ(qt::NewHandle(-1), nullptr);
  EXPECT_EQ(qt::MemError(), paramErr);
}

TEST(Handles, ImpossibleSizeReportsMemFull) {
  // calloc of 2 GiB fails under the sanitizer's allocator limits or succeeds
  // lazily; either way no crash, and failure is reported as memFullErr.
  Handle h = qt::NewHandle(INT32_MAX);
  if (h) {
    EXPECT_EQ(qt::MemError(), noErr);
    qt::DisposeHandle(h);
  } else {
    EXPECT_EQ(qt::MemError(), memFullErr);
  }
}

TEST(Handles, GrowingKeepsContentsAndMayMove) {
  Handle h = qt::NewHandle(4);
  std::memcpy(*h, "abcd", 4);
  ASSERT_EQ(qt::SetHandleSize(h, 100000), noErr);
  EXPECT_EQ(qt::GetHandleSize(h), 100000);
  EXPECT_EQ(std::memcmp(*h, "abcd", 4), 0);
  EXPECT_EQ((*h)[99999], 0);
  ASSERT_EQ(qt::SetHandleSize(h, 2), noErr);
  EXPECT_EQ(qt::GetHandleSize(h), 2);
  EXPECT_EQ(std::memcmp(*h, "ab", 2), 0);
  qt::DisposeHandle(h);
}

TEST(Handles, LockedBlockCannotGrowOrMoveButCanShrink) {
  Handle h = qt::NewHandle(16);
  ASSERT_EQ(qt::HLock(h), noErr);
  EXPECT_TRUE(qt::IsHandleLocked(h));
  char* where = *h;
  EXPECT_EQ(qt::SetHandleSize(h, 17), memLockedErr);
  EXPECT_EQ(qt::MoveHHi(h), memLockedErr);
  EXPECT_EQ(qt::SetHandleSize(h, 8), noErr);
  EXPECT_EQ(*h, where);
  EXPECT_EQ(qt::GetHandleSize(h), 8);
  ASSERT_EQ(qt::HUnlock(h), noErr);
  EXPECT_FALSE(qt::IsHandleLocked(h));
  EXPECT_EQ(qt::MoveHHi(h), noErr);
  EXPECT_EQ(qt::SetHandleSize(h, 64), noErr);
  qt::DisposeHandle(h);
}

TEST(Handles, NullForeignAndDisposedHandlesAreRefused) {
  char* block = nullptr;
  Handle foreign = &block;
  for (Handle bad : {Handle(nullptr), foreign}) {
    EXPECT_EQ(qt::DisposeHandle(bad), nilHandleErr);
    EXPECT_EQ(qt::SetHandleSize(bad, 4), nilHandleErr);
    EXPECT_EQ(qt::GetHandleSize(bad), -1);
    EXPECT_EQ(qt::MemError(), nilHandleErr);
    EXPECT_EQ(qt::HLock(bad), nilHandleErr);
    EXPECT_EQ(qt::HUnlock(bad), nilHandleErr);
    EXPECT_EQ(qt::MoveHHi(bad), nilHandleErr);
  }
  Handle h = qt::NewHandle(8);
  ASSERT_EQ(qt::DisposeHandle(h), noErr);
  EXPECT_EQ(*h, nullptr);
  EXPECT_EQ(qt::DisposeHandle(h), memWZErr);
  EXPECT_EQ(qt::SetHandleSize(h, 4), memWZErr);
  EXPECT_EQ(qt::GetHandleSize(h), -1);
  EXPECT_EQ(qt::MemError(), memWZErr);
  EXPECT_EQ(qt::HLock(h), memWZErr);
  EXPECT_EQ(qt::CheckHandle(h), memWZErr);
}

TEST(Handles, BlockSizeIsFoundFromItsAddressOnly) {
  Handle h = qt::NewHandle(123);
  int32_t size = 0;
  ASSERT_TRUE(qt::FindBlockSize(*h, &size));
  EXPECT_EQ(size, 123);
  EXPECT_FALSE(qt::FindBlockSize(*h + 1, &size));
  qt::SetHandleSize(h, 5000);
  ASSERT_TRUE(qt::FindBlockSize(*h, &size));
  EXPECT_EQ(size, 5000);
  char* old = *h;
  qt::DisposeHandle(h);
  EXPECT_FALSE(qt::FindBlockSize(old, &size));
}

}  // namespace
