// The movie writer with our QuickTime.qts: a movie of GDI-drawn frames that
// ffprobe and ffmpeg then check (check-movies.sh), and the dialog's list of
// our codecs.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "MovieTestSupport.h"
#include "TestSupport.h"
#include "movie/CompressionSettings.h"
#include "movie/MovieWriter.h"
#include "movie/OffscreenFrame.h"
#include "platform/QuickTimeServices.h"
#include "resource.h"

namespace {

constexpr int16_t kWidth = 37;  // odd sizes: no row happens to be aligned
constexpr int16_t kHeight = 23;

struct Box {
  RECT rect;
  COLORREF colour;
};

// Frame n: a dark blue ground, a red "F"-like mark that moves with n, a green
// square in the top left corner, so flips, shifts and R/B swaps all show.
std::vector<Box> frameBoxes(int n) {
  return {
      {{0, 0, kWidth, kHeight}, RGB(10, 20, 90)},
      {{2 + n * 3, 4, 5 + n * 3, 19}, RGB(230, 30, 40)},
      {{5 + n * 3, 4, 12 + n * 3, 7}, RGB(230, 30, 40)},
      {{5 + n * 3, 10, 10 + n * 3, 12}, RGB(230, 30, 40)},
      {{0, 0, 2, 2}, RGB(0, 200, 0)},
      {{kWidth - 1, kHeight - 1, kWidth, kHeight}, RGB(255, 255, 255)},
  };
}

void draw(HDC dc, const std::vector<Box>& boxes) {
  for (const Box& b : boxes) {
    HBRUSH brush = CreateSolidBrush(b.colour);
    FillRect(dc, &b.rect, brush);
    DeleteObject(brush);
  }
  GdiFlush();
}

// The same picture worked out without GDI, as rgb24 rows top-down.
std::vector<uint8_t> expectedRgb(const std::vector<Box>& boxes) {
  std::vector<uint8_t> rgb(size_t(kWidth) * kHeight * 3);
  for (const Box& b : boxes)
    for (LONG y = std::max(0L, b.rect.top); y < std::min<LONG>(kHeight, b.rect.bottom); ++y)
      for (LONG x = std::max(0L, b.rect.left); x < std::min<LONG>(kWidth, b.rect.right); ++x) {
        uint8_t* p = &rgb[(size_t(y) * kWidth + size_t(x)) * 3];
        p[0] = GetRValue(b.colour);
        p[1] = GetGValue(b.colour);
        p[2] = GetBValue(b.colour);
      }
  return rgb;
}

std::string outPath(const char* name) { return std::string("Z:") + SKELBY_MOVIE_OUT_DIR + "/" + name; }

void skipUnlessLibraryWrites(OffscreenFrame& frame) {
  ASSERT_TRUE(startQuickTime()) << "our QuickTime.qts did not start";
  if (!frame.create(kWidth, kHeight, true)) {
    GTEST_SKIP() << "our QuickTime.qts makes no graphics world yet (QTNewGWorld)";
  }
  if (!frame.dc) GTEST_SKIP() << "our QuickTime.qts gives no device context yet (GetPortHDC)";
  CodecNameSpecListPtr list = nullptr;
  if (GetCodecNameList(&list, 0) != noErr || !list) {
    GTEST_SKIP() << "our QuickTime.qts lists no codecs yet (GetCodecNameList)";
  }
  DisposeCodecNameList(list);
}

TEST(MovieWriterWithOurQuickTime, GdiFramesBecomeAnAnimationMovieOfTheirDurations) {
  OffscreenFrame frame;
  skipUnlessLibraryWrites(frame);
  if (IsSkipped()) return;
  const std::string movie = outPath("animation.mov");
  const std::string expected = outPath("animation.rgb");
  std::remove(movie.c_str());
  std::remove(expected.c_str());

  const CompressionSettings saved = compressionSettings;
  compressionSettings = CompressionSettings();
  std::strcpy(compressionSettings.codecName, "Animation");
  MovieWriter writer;
  MessageBoxWatcher watcher;
  const bool opened = writer.open(movie.c_str(), &frame);
  if (!opened && watcher.waitForBox(500)) {
    compressionSettings = saved;
    GTEST_SKIP() << "our QuickTime.qts writes no movie yet: " << watcher.text;
  }
  ASSERT_TRUE(opened);
  EXPECT_EQ(compressionSettings.codecType, fourCC("rle "));

  std::vector<uint8_t> all;
  const int32_t durations[] = {100, 120, 95};
  for (int n = 0; n < 3; ++n) {
    const std::vector<Box> boxes = frameBoxes(n);
    draw(frame.dc, boxes);
    const std::vector<uint8_t> rgb = expectedRgb(boxes);
    all.insert(all.end(), rgb.begin(), rgb.end());
    EXPECT_TRUE(writer.addFrame(&frame, durations[n])) << "frame " << n;
  }
  EXPECT_TRUE(writer.finish());
  compressionSettings = saved;

  FILE* f = std::fopen(expected.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  std::fwrite(all.data(), 1, all.size(), f);
  std::fclose(f);
  // The size the checking script expects.
  f = std::fopen(outPath("animation.size").c_str(), "w");
  ASSERT_NE(f, nullptr);
  std::fprintf(f, "%dx%d\n", kWidth, kHeight);
  std::fclose(f);
}

// H.264 through the library's compression sequence: frames of a mark that
// moves, with uneven durations, which check-movies.sh decodes with
// libavcodec's own decoder and compares with what was drawn. The build puts
// the OpenH264 DLL beside QuickTime.qts, so H.264 must be listed.
TEST(MovieWriterWithOurQuickTime, GdiFramesBecomeAnH264MovieOfKeyAndOtherFrames) {
  OffscreenFrame frame;
  ASSERT_TRUE(startQuickTime());
  constexpr int16_t kSide = 64;  // whole macroblocks: the picture needs no cropping
  ASSERT_TRUE(frame.create(kSide, kSide, true));
  const std::string movie = outPath("h264.mov");
  const std::string expected = outPath("h264.rgb");
  std::remove(movie.c_str());
  std::remove(expected.c_str());

  const CompressionSettings saved = compressionSettings;
  compressionSettings = CompressionSettings();
  std::strcpy(compressionSettings.codecName, "H.264");
  compressionSettings.qualityIndex = 3;  // Normal
  MovieWriter writer;
  MessageBoxWatcher watcher;
  const bool opened = writer.open(movie.c_str(), &frame);
  EXPECT_FALSE(watcher.waitForBox(200)) << watcher.text;
  ASSERT_TRUE(opened);
  ASSERT_EQ(compressionSettings.codecType, kH264CodecType) << "H.264 is not listed beside the OpenH264 DLL";
  ASSERT_NE(writer.sequence, 0);

  std::vector<uint8_t> all;
  std::string durationsText;
  for (int n = 0; n < 30; ++n) {
    // The mark moves two pixels a frame across a still ground (its edges
    // stay on the two-pixel grid of the colour planes, which blur an edge
    // between them whatever the quality); from frame 10 it stays, so the
    // encoder has frames that do not differ.
    const int shift = 2 * std::min(n, 10);
    std::vector<Box> boxes = {{{0, 0, kSide, kSide}, RGB(10, 20, 90)},
                              {{8 + shift, 10, 30 + shift, 40}, RGB(230, 30, 40)},
                              {{0, 0, 4, 4}, RGB(0, 200, 0)}};
    draw(frame.dc, boxes);
    const std::vector<uint8_t> rgb = [&] {
      std::vector<uint8_t> out(size_t(kSide) * kSide * 3);
      for (const Box& b : boxes)
        for (LONG y = b.rect.top; y < b.rect.bottom; ++y)
          for (LONG x = b.rect.left; x < b.rect.right; ++x) {
            uint8_t* p = &out[(size_t(y) * kSide + size_t(x)) * 3];
            p[0] = GetRValue(b.colour);
            p[1] = GetGValue(b.colour);
            p[2] = GetBValue(b.colour);
          }
      return out;
    }();
    all.insert(all.end(), rgb.begin(), rgb.end());
    const int32_t duration = 90 + (n * 37) % 50;
    durationsText += std::to_string(duration) + " ";
    EXPECT_TRUE(writer.addFrame(&frame, duration)) << "frame " << n << ": " << writer.lastError;
  }
  EXPECT_TRUE(writer.finish());
  EXPECT_EQ(writer.sequence, 0);
  compressionSettings = saved;

  FILE* f = std::fopen(expected.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  std::fwrite(all.data(), 1, all.size(), f);
  std::fclose(f);
  f = std::fopen(outPath("h264.durations").c_str(), "w");
  ASSERT_NE(f, nullptr);
  std::fprintf(f, "%s\n", durationsText.c_str());
  std::fclose(f);
}

TEST(MovieWriterWithOurQuickTime, TheDialogListsOurCodecsSorted) {
  ASSERT_TRUE(startQuickTime());
  CodecNameSpecListPtr list = nullptr;
  if (GetCodecNameList(&list, 0) != noErr || !list) {
    GTEST_SKIP() << "our QuickTime.qts lists no codecs yet (GetCodecNameList)";
  }
  std::vector<std::string> names;
  for (int16_t i = 0; i < list->count; ++i) {
    char text[300];
    codecDisplayName(list->list[i], text);
    names.push_back(text);
  }
  DisposeCodecNameList(list);
  std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
    return CompareStringA(LOCALE_USER_DEFAULT, NORM_IGNORECASE, a.c_str(), -1, b.c_str(), -1) ==
           CSTR_LESS_THAN;
  });
  // H.264 too: every build puts the OpenH264 DLL beside QuickTime.qts.
  for (const char* ours : {"Animation", "None", "PNG", "Photo - JPEG", "H.264"})
    EXPECT_NE(std::find(names.begin(), names.end(), ours), names.end()) << ours;

  std::vector<std::string> shown;
  ForegroundWindow owner;  // not whatever another program left in front
  const DialogRun run = runExportSettings([&](HWND dialog) {
    shown = comboItems(dialog, IDC_CODEC);
    clickButton(dialog, IDC_CANCEL);
  });
  ASSERT_TRUE(run.shown);
  EXPECT_EQ(shown, names);
}

}  // namespace
