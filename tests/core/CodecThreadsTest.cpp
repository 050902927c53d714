// Frames are cut into bands fixed by their size and the bands spread over
// threads: every codec must write the same bytes whatever the number of
// threads, and those bytes must still decode (exactly, for the lossless ones).
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <new>
#include <set>
#include <string>
#include <thread>

#include "CodecTestSupport.h"
#include "Workers.h"

namespace {

using test::Image;

// Sets the codecs' thread count for one scope.
struct Threads {
  explicit Threads(int n) { qt::workers::setThreadCount(n); }
  ~Threads() { qt::workers::setThreadCount(0); }
};

std::vector<uint8_t> encode(OSType codec, const Image& img, CodecQ q) {
  std::vector<uint8_t> buf(qt::maxCompressedSize(codec, img.width, img.height, q));
  buf.resize(qt::compressRows(codec, test::rowsOf(img), q, buf.data(), buf.size()));
  return buf;
}

struct Size {
  int width, height;
};
// One pixel; one line; one column; odd sizes below and just above the size
// that runs on one thread; a frame as wide as allowed, whose JPEG restart
// interval is near the 16-bit limit; a full HD frame.
const Size kSizes[] = {{1, 1},     {1920, 1},  {1, 300},    {333, 217},
                       {500, 401}, {641, 313}, {32767, 40}, {1920, 1080}};

void expectSameBytesForEveryThreadCount(OSType codec, CodecQ q, const Image& img, const char* what) {
  std::vector<uint8_t> one;
  {
    Threads t(1);
    one = encode(codec, img, q);
  }
  ASSERT_FALSE(one.empty()) << what;
  for (int n : {2, 3, 8}) {
    Threads t(n);
    EXPECT_TRUE(encode(codec, img, q) == one) << what << " " << img.width << "x" << img.height << " quality "
                                              << q << ": " << n << " threads wrote other bytes than one";
  }
  const test::Decoded d = test::avDecode(codec, img.width, img.height, 24, one.data(), one.size());
  ASSERT_TRUE(d.ok) << what << " " << img.width << "x" << img.height << ": " << d.error;
  ASSERT_EQ(d.width, img.width);
  ASSERT_EQ(d.height, img.height);
  if (codec == kJPEGCodecType) {
    // The floors of the codec's own tests: screens at every quality, noise
    // at lossless quality (4:2:0 chroma alone loses most of noise's colour).
    const bool screen = what == std::string("screen");
    if (screen || q >= codecLosslessQuality) {
      EXPECT_GE(test::psnr(d.rgb, test::toRgb(img)), q >= codecLosslessQuality ? 38.0 : 24.0)
          << what << " " << img.width << "x" << img.height;
    }
  } else {
    EXPECT_TRUE(d.rgb == test::toRgb(img)) << what << " " << img.width << "x" << img.height << " differs";
  }
}

void checkCodec(OSType codec, std::initializer_list<CodecQ> qualities) {
  for (const Size& s : kSizes) {
    const Image screen = test::screenLike(s.width, s.height, 7);
    const Image noisy = test::noise(s.width, s.height, 3, 4);
    for (CodecQ q : qualities) {
      expectSameBytesForEveryThreadCount(codec, q, screen, "screen");
      expectSameBytesForEveryThreadCount(codec, q, noisy, "noise");
    }
  }
}

TEST(CodecThreads, AnimationWritesTheSameBytesOnAnyNumberOfThreads) {
  checkCodec(kAnimationCodecType, {codecNormalQuality});
}

TEST(CodecThreads, NoneWritesTheSameBytesOnAnyNumberOfThreads) {
  checkCodec(kRawCodecType, {codecNormalQuality});
}

TEST(CodecThreads, PhotoJpegWritesTheSameBytesOnAnyNumberOfThreads) {
  checkCodec(kJPEGCodecType, {codecNormalQuality, codecLosslessQuality});  // 4:2:0 and 4:4:4
}

TEST(CodecThreads, PngWritesTheSameBytesOnAnyNumberOfThreads) {
  checkCodec(kPNGCodecType, {codecMinQuality, codecLosslessQuality});  // zlib levels 1 and 6
}

TEST(Workers, EveryTaskRunsOnceWhateverTheThreadCount) {
  for (int threads : {1, 2, 3, 8}) {
    Threads t(threads);
    for (int count : {1, 2, 5, 64}) {
      std::vector<std::atomic<int>> runs(static_cast<size_t>(count));
      qt::workers::run(count, qt::workers::kInlinePixels, [&](int i) { runs[size_t(i)].fetch_add(1); });
      for (int i = 0; i < count; ++i)
        EXPECT_EQ(runs[size_t(i)].load(), 1)
            << "task " << i << " of " << count << " on " << threads << " threads";
    }
  }
}

// Each task waits (a bounded while) for a second thread to show up, so the
// caller cannot finish every task before a helper wakes. Returns how many
// threads ran tasks.
size_t threadsThatRan() {
  std::mutex lock;
  std::set<std::thread::id> seen;
  qt::workers::run(8, qt::workers::kInlinePixels, [&](int) {
    {
      std::lock_guard<std::mutex> g(lock);
      seen.insert(std::this_thread::get_id());
    }
    for (int i = 0; i < 2000; ++i) {
      {
        std::lock_guard<std::mutex> g(lock);
        if (seen.size() > 1) return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  });
  return seen.size();
}

TEST(Workers, LargeFramesRunOnMoreThanOneThreadAlsoAfterAStop) {
  Threads t(2);
  EXPECT_EQ(threadsThatRan(), 2u);
  qt::workers::stop();  // as the library's termination does
  EXPECT_EQ(threadsThatRan(), 2u) << "helpers start again after a stop";
  qt::workers::stop();
  qt::workers::stop();  // twice in a row, and with no helper left, is harmless
}

// A band that runs out of memory on a helper thread must fail the call on
// the caller, after every other band has finished with the caller's data,
// and leave the pool able to take the next frame.
TEST(Workers, ATaskThatThrowsOnAnyThreadFailsTheCallOnTheCaller) {
  Threads t(2);
  for (int failing : {0, 5, 7}) {
    std::atomic<int> finished{0};
    EXPECT_THROW(qt::workers::run(8, qt::workers::kInlinePixels,
                                  [&](int i) {
                                    std::this_thread::sleep_for(std::chrono::milliseconds(2));
                                    if (i == failing) throw std::bad_alloc();
                                    finished.fetch_add(1);
                                  }),
                 std::bad_alloc)
        << "band " << failing;
    EXPECT_EQ(finished.load(), 7) << "the other bands all ran before the call returned";
  }
  EXPECT_EQ(threadsThatRan(), 2u) << "the pool still works";
}

TEST(Workers, SmallFramesAndOneThreadRunInOrderOnTheCaller) {
  const std::thread::id caller = std::this_thread::get_id();
  for (auto setting : {std::pair<int, uint64_t>{8, qt::workers::kInlinePixels - 1}, {1, uint64_t(1) << 30}}) {
    Threads t(setting.first);
    std::vector<int> order;
    bool elsewhere = false;
    qt::workers::run(6, setting.second, [&](int i) {
      order.push_back(i);
      elsewhere |= std::this_thread::get_id() != caller;
    });
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3, 4, 5})) << setting.first << " threads";
    EXPECT_FALSE(elsewhere) << setting.first << " threads";
  }
}

}  // namespace
