// The compression settings against the test library: defaults, the codec
// list read one name at a time, resolving a name to a type, and the frame
// duration typed by the user.
#include "movie/CompressionSettings.h"

#include <gtest/gtest.h>

#include <cstring>

#include "FakeQuickTime.h"
#include "MovieTestSupport.h"
#include "TestSupport.h"

namespace {

class CompressionSettingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    qt = resetFakeQuickTime();
    ASSERT_NE(qt, nullptr) << "the test library is not the bound QuickTime.qts";
    saved = compressionSettings;
  }
  void TearDown() override { compressionSettings = saved; }
  FakeQuickTimeState* qt = nullptr;
  CompressionSettings saved;
};

TEST(CompressionSettingsDefaults, AnimationLosslessEveryTenthOfASecond) {
  const CompressionSettings fresh;
  EXPECT_STREQ(fresh.codecName, "");
  EXPECT_EQ(fresh.codecType, fourCC("rle "));
  EXPECT_EQ(fresh.qualityIndex, 0);
  EXPECT_EQ(fresh.frameDurationMs, 100);
  const char* labels[] = {"Lossless", "Minimum", "Low", "Normal", "High", "Maximum"};
  const CodecQ values[] = {0x400, 0x000, 0x100, 0x200, 0x300, 0x3FF};
  for (int row = 0; row < 6; ++row) {
    EXPECT_STREQ(qualityLevels[row].label, labels[row]) << "row " << row;
    EXPECT_EQ(qualityLevels[row].value, values[row]) << "row " << row;
  }
}

TEST_F(CompressionSettingsTest, FetchesEachNameInListOrderAndReleasesTheList) {
  const char* expected[] = {"Animation", "None", "Photo - JPEG", "PNG"};
  for (int i = 0; i < 4; ++i) {
    std::memset(codecListEntry, 'x', sizeof codecListEntry);
    ASSERT_TRUE(fetchCodecName(i)) << i;
    EXPECT_STREQ(codecListEntry, expected[i]);
    // Cleared to zeros beyond the name, so no earlier longer name shows through.
    EXPECT_EQ(codecListEntry[sizeof codecListEntry - 1], 0);
  }
  MessageBoxWatcher watcher;
  EXPECT_FALSE(fetchCodecName(4));
  EXPECT_FALSE(fetchCodecName(-1));
  EXPECT_FALSE(watcher.waitForBox(300)) << "past the end is silent, got: " << watcher.text;
  EXPECT_EQ(qt->liveCodecLists, 0);
  EXPECT_EQ(qt->doubleReleases, 0);
}

TEST_F(CompressionSettingsTest, ALyingLengthByteReadsNoFurtherThanTheName) {
  qt->codecCount = 1;
  qt->codecs[0] = {fourCC("zzzz"), 255, "012345678901234567890123456789012345678"};
  ASSERT_TRUE(fetchCodecName(0));
  EXPECT_STREQ(codecListEntry, "0123456789012345678901234567890");  // 31 characters
}

TEST_F(CompressionSettingsTest, NoListOrAnEmptyOneIsToldWithTheSystemCaption) {
  const struct {
    OSErr result;
    int16_t count;
    const char* text;
  } cases[] = {
      {paramErr, 4, "Could not retrieve compressor lists"},
      {noErr, 0, "no available codec. Try to reinstall quicktime."},
      {noErr, -3, "no available codec. Try to reinstall quicktime."},
  };
  for (const auto& c : cases) {
    qt->codecNameListResult = c.result;
    qt->codecCount = c.count;
    {
      MessageBoxWatcher watcher;
      EXPECT_FALSE(fetchCodecName(0));
      ASSERT_TRUE(watcher.waitForBox()) << c.text;
      EXPECT_EQ(watcher.text, c.text);
      EXPECT_EQ(watcher.caption, "Error");
      EXPECT_EQ(watcher.owner, nullptr);
      EXPECT_TRUE(watcher.hasOkButton);
    }
    {
      MessageBoxWatcher watcher;
      compressionSettings.codecType = fourCC("jpeg");
      resolveCodecType("PNG");
      ASSERT_TRUE(watcher.waitForBox()) << c.text;
      EXPECT_EQ(watcher.text, c.text);
      EXPECT_EQ(compressionSettings.codecType, fourCC("jpeg")) << "kept when nothing is listed";
    }
    EXPECT_EQ(qt->liveCodecLists, 0) << c.text;
  }
}

TEST_F(CompressionSettingsTest, ResolvesTheFirstCodecOfThatNameOrAnimation) {
  qt->codecCount = 5;
  qt->codecs[4] = {fourCC("png2"), 3, "PNG"};  // a second codec under a listed name
  MessageBoxWatcher watcher;
  resolveCodecType("PNG");
  EXPECT_EQ(compressionSettings.codecType, fourCC("png "));
  resolveCodecType("Photo - JPEG");
  EXPECT_EQ(compressionSettings.codecType, fourCC("jpeg"));
  resolveCodecType("png");  // names compare case-sensitively
  EXPECT_EQ(compressionSettings.codecType, fourCC("rle "));
  compressionSettings.codecType = fourCC("jpeg");
  resolveCodecType("Removed Codec");
  EXPECT_EQ(compressionSettings.codecType, fourCC("rle "));
  compressionSettings.codecType = fourCC("jpeg");
  resolveCodecType("");
  EXPECT_EQ(compressionSettings.codecType, fourCC("rle "));
  EXPECT_FALSE(watcher.waitForBox(300)) << "no message for an unknown name: " << watcher.text;
  EXPECT_EQ(qt->liveCodecLists, 0);
}

TEST(FrameDurationText, APasteIsTakenOnlyAsAWholeNumber) {
  const struct {
    const char* pasted;
    const char* taken;  // null: refused
  } cases[] = {
      {"50", "50"},       {" 50", "50"},    {"50\r\n", "50"}, {"\t0042 ", "0042"},
      {"12.5", nullptr},  {"-40", nullptr}, {"1e3", nullptr}, {"50x", nullptr},
      {"1 000", nullptr}, {"", nullptr},    {"  ", nullptr},
  };
  for (const auto& c : cases) {
    std::string digits = "untouched";
    const bool taken = pastedDuration(c.pasted, digits);
    EXPECT_EQ(taken, c.taken != nullptr) << '"' << c.pasted << '"';
    if (c.taken) {
      EXPECT_EQ(digits, c.taken) << '"' << c.pasted << '"';
    }
  }
}

TEST(FrameDurationText, UnsignedDecimalFrom1To2To31Minus1AndZeroForAnythingElse) {
  const struct {
    const char* text;
    int32_t ms;
  } cases[] = {
      {"", 0},
      {"0", 0},
      {"000", 0},
      {"abc", 0},
      {"1", 1},
      {"250", 250},
      {"0042", 42},
      {"2147483647", 2147483647},
      {"2147483648", 0},
      {"4294967295", 0},
      {"4294967296", 0},
      {"4294967297", 0},
      {"99999999999999999999999999999999999999999", 0},
      {"12x", 0},
      {"-5", 0},
  };
  for (const auto& c : cases) EXPECT_EQ(parseFrameDuration(c.text), c.ms) << '"' << c.text << '"';
  EXPECT_EQ(parseFrameDuration(nullptr), 0);
}

TEST(QualityIndex, BroughtIntoTheTableAndStoredBack) {
  const CompressionSettings saved = compressionSettings;
  const struct {
    int32_t in, out;
  } cases[] = {{9, 5}, {-3, 0}, {5, 5}, {0, 0}, {3, 3}, {INT32_MIN, 0}, {INT32_MAX, 5}};
  for (const auto& c : cases) {
    compressionSettings.qualityIndex = c.in;
    EXPECT_EQ(clampQualityIndex(), c.out) << c.in;
    EXPECT_EQ(compressionSettings.qualityIndex, c.out) << c.in;
  }
  compressionSettings = saved;
}

}  // namespace
