// A codec whose scratch memory cannot be had fails the frame, not the
// process: CompressImage answers with an error, and the next frame, with
// memory again, compresses. A program of its own, as it replaces operator
// new to make allocation fail on one thread on request.
#include <gtest/gtest.h>

#include <cstdlib>
#include <new>
#include <thread>

#include "CodecTestSupport.h"

namespace {
thread_local bool allocationsFail = false;
}

void* operator new(size_t size) {
  if (allocationsFail) throw std::bad_alloc();
  if (void* p = std::malloc(size ? size : 1)) return p;
  throw std::bad_alloc();
}
void* operator new[](size_t size) { return operator new(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete[](void* p, size_t) noexcept { std::free(p); }

namespace {

struct Outcome {
  OSErr shortOfMemory = noErr;
  bool threw = false;
  OSErr withMemory = -1;
};

// On a thread of its own, whose per-thread codec scratch is not made yet,
// so the codec has to ask for it inside the call.
Outcome compressShortOfMemory(OSType codec) {
  Outcome o;
  std::thread([&] {
    test::PixMapFixture pm(test::screenLike(64, 48, 7));
    Rect r = pm.all();
    int32_t max = 0;
    ASSERT_EQ(qt::GetMaxCompressionSize(pm.handle, &r, 0, codecNormalQuality, codec, anyCodec, &max), noErr);
    Handle data = qt::NewHandle(max);
    qt::HLock(data);
    // Grown before memory runs out, so that only the codec asks for any.
    Handle desc = qt::NewHandle(sizeof(ImageDescription));
    auto* description = reinterpret_cast<ImageDescriptionHandle>(desc);
    allocationsFail = true;
    try {
      o.shortOfMemory = qt::CompressImage(pm.handle, &r, codecNormalQuality, codec, description, *data);
    } catch (...) {
      o.threw = true;
    }
    allocationsFail = false;
    o.withMemory = qt::CompressImage(pm.handle, &r, codecNormalQuality, codec, description, *data);
    qt::DisposeHandle(desc);
    qt::DisposeHandle(data);
  }).join();
  return o;
}

TEST(CodecMemory, AScratchAllocationThatFailsFailsTheFrameNotTheProcess) {
  const Outcome o = compressShortOfMemory(kJPEGCodecType);
  EXPECT_FALSE(o.threw) << "out of memory escaped the call";
  EXPECT_NE(o.shortOfMemory, noErr) << "a frame that was not compressed was reported compressed";
  EXPECT_EQ(o.withMemory, noErr) << "the next frame, with memory again, compresses";
}

}  // namespace
