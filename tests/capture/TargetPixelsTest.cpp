// Measure, copy and pointer against a display that scales as Windows
// documents it: two monitors of their own DPI, a target of each DPI
// awareness, and a caller of each. What a caller in one context reads of a
// window is the window's physical size converted to that context's DPI (an
// unaware caller sees everything at 96 dpi); a window's device context holds
// the window's own pixels, whatever the caller's context. The whole client
// area (or window) must be copied, and the pointer found where it is.
#include <windows.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "capture/FrameGrabber.h"
#include "capture/TargetPixels.h"

namespace {

const DPI_AWARENESS_CONTEXT kUnaware = DPI_AWARENESS_CONTEXT_UNAWARE;
const DPI_AWARENESS_CONTEXT kSystemAware = DPI_AWARENESS_CONTEXT_SYSTEM_AWARE;
const DPI_AWARENESS_CONTEXT kPerMonitor = DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2;

struct Monitor {
  LONG left;  // physical; monitors sit side by side, tops at 0
  int dpi;
};

// The target, in its own pixels: what it draws, and what a copy must hold.
// Multiples of 48, so every scaling here converts without rounding.
struct Target {
  DPI_AWARENESS_CONTEXT awareness;
  int monitor;
  LONG physicalLeft;  // its corner on the screen, physical
  LONG physicalTop;
  int clientWidth;
  int clientHeight;
  int frameLeft;  // borders and caption, in its own pixels
  int frameTop;
  int frameRight;
  int frameBottom;
};

const HWND kTarget = reinterpret_cast<HWND>(static_cast<uintptr_t>(0x5150));
const HDC kFrameDC = reinterpret_cast<HDC>(static_cast<uintptr_t>(0x7000));

struct Display {
  Monitor monitors[2] = {{0, 96}, {3840, 96}};
  int systemDpi = 96;
  DPI_AWARENESS_CONTEXT thread = kPerMonitor;
  Target target = {};
  bool minimised = false;
  POINT pointer = {};  // physical
  // What the code under test did.
  int dcsTaken = 0;
  int dcsGiven = 0;
  int switches = 0;
  DPI_AWARENESS_CONTEXT dcContext = nullptr;  // the thread's context when the DC was taken
  bool dcBorders = false;
  bool dcUsedInAnotherContext = false;
  int copies = 0;
  SIZE copied = {};  // the source rectangle of the last copy
  SIZE copiedTo = {};
  bool copyOutsidePixels = false;
};
Display display;

int dpiOf(DPI_AWARENESS_CONTEXT context, const Monitor& m) {
  if (context == kUnaware) return 96;
  if (context == kSystemAware) return display.systemDpi;
  return m.dpi;
}
const Monitor& targetMonitor() { return display.monitors[display.target.monitor]; }
int ownDpi() { return dpiOf(display.target.awareness, targetMonitor()); }

// A length of the target's own pixels, on the screen, and as a caller in the
// thread's context reads it.
LONG physical(int own) { return MulDiv(own, targetMonitor().dpi, ownDpi()); }
LONG seen(LONG physicalLength) {
  return MulDiv(physicalLength, dpiOf(display.thread, targetMonitor()), targetMonitor().dpi);
}
// A screen point as the caller reads it: the monitor keeps its corner, what
// lies on it scales about that corner.
LONG seenX(LONG physicalX) {
  const Monitor& m = targetMonitor();
  return m.left + seen(physicalX - m.left);
}

RECT physicalWindow() {
  const Target& t = display.target;
  return RECT{t.physicalLeft, t.physicalTop,
              t.physicalLeft + physical(t.frameLeft + t.clientWidth + t.frameRight),
              t.physicalTop + physical(t.frameTop + t.clientHeight + t.frameBottom)};
}
POINT physicalClientOrigin() {
  const Target& t = display.target;
  return POINT{t.physicalLeft + physical(t.frameLeft), t.physicalTop + physical(t.frameTop)};
}

DPI_AWARENESS_CONTEXT WINAPI fakeWindowContext(HWND window) {
  return window == kTarget ? display.target.awareness : nullptr;
}
DPI_AWARENESS_CONTEXT WINAPI fakeSetThreadContext(DPI_AWARENESS_CONTEXT context) {
  const DPI_AWARENESS_CONTEXT previous = display.thread;
  display.thread = context;
  ++display.switches;
  return previous;
}
BOOL WINAPI fakeIsIconic(HWND) { return display.minimised; }
BOOL WINAPI fakeGetClientRect(HWND window, LPRECT r) {
  if (window != kTarget) return FALSE;
  *r = RECT{0, 0, seen(physical(display.target.clientWidth)), seen(physical(display.target.clientHeight))};
  return TRUE;
}
BOOL WINAPI fakeGetWindowRect(HWND window, LPRECT r) {
  if (window != kTarget) return FALSE;
  const RECT p = physicalWindow();
  *r = RECT{seenX(p.left), seen(p.top), seenX(p.left) + seen(p.right - p.left),
            seen(p.top) + seen(p.bottom - p.top)};
  return TRUE;
}
BOOL WINAPI fakeScreenToClient(HWND window, LPPOINT p) {
  if (window != kTarget) return FALSE;
  const POINT origin = physicalClientOrigin();
  p->x -= seenX(origin.x);
  p->y -= seen(origin.y);
  return TRUE;
}
BOOL WINAPI fakeGetCursorPos(LPPOINT p) {
  *p = POINT{seenX(display.pointer.x), seen(display.pointer.y)};
  return TRUE;
}
HDC takeDC(HWND window, bool borders) {
  if (window != kTarget) return nullptr;
  ++display.dcsTaken;
  display.dcContext = display.thread;
  display.dcBorders = borders;
  return reinterpret_cast<HDC>(static_cast<uintptr_t>(0x6000 + display.dcsTaken));
}
HDC WINAPI fakeGetDC(HWND window) { return takeDC(window, false); }
HDC WINAPI fakeGetWindowDC(HWND window) { return takeDC(window, true); }
int WINAPI fakeReleaseDC(HWND, HDC) {
  ++display.dcsGiven;
  return 1;
}
// The device context holds the target's own pixels: its client area, or the
// whole window for a window DC.
BOOL WINAPI fakeStretchBlt(HDC to, int, int, int toWidth, int toHeight, HDC from, int x, int y, int width,
                           int height, DWORD) {
  const Target& t = display.target;
  if (to != kFrameDC || from == nullptr) return FALSE;
  if (display.thread != display.dcContext) display.dcUsedInAnotherContext = true;
  const int ownWidth = display.dcBorders ? t.frameLeft + t.clientWidth + t.frameRight : t.clientWidth;
  const int ownHeight = display.dcBorders ? t.frameTop + t.clientHeight + t.frameBottom : t.clientHeight;
  if (x < 0 || y < 0 || x + width > ownWidth || y + height > ownHeight) display.copyOutsidePixels = true;
  ++display.copies;
  display.copied = SIZE{width, height};
  display.copiedTo = SIZE{toWidth, toHeight};
  return TRUE;
}

WindowCalls fakeCalls() {
  WindowCalls calls = {};
  calls.getWindowDpiAwarenessContext = fakeWindowContext;
  calls.setThreadDpiAwarenessContext = fakeSetThreadContext;
  calls.isIconic = fakeIsIconic;
  calls.getClientRect = fakeGetClientRect;
  calls.getWindowRect = fakeGetWindowRect;
  calls.screenToClient = fakeScreenToClient;
  calls.getCursorPos = fakeGetCursorPos;
  calls.getDC = fakeGetDC;
  calls.getWindowDC = fakeGetWindowDC;
  calls.releaseDC = fakeReleaseDC;
  calls.stretchBlt = fakeStretchBlt;
  return calls;
}

// A 480 x 336 client area in a frame of 48 on three sides and 96 on top.
Target targetOf(DPI_AWARENESS_CONTEXT awareness, int monitor) {
  return Target{awareness, monitor, display.monitors[monitor].left + 480, 192, 480, 336, 48, 96, 48, 48};
}

// Puts the pointer on the target's own pixel (x, y) of its client area.
void pointAtOwn(int x, int y) {
  const POINT origin = physicalClientOrigin();
  display.pointer = POINT{origin.x + physical(x), origin.y + physical(y)};
}

const char* nameOf(DPI_AWARENESS_CONTEXT c) {
  return c == kUnaware ? "unaware" : c == kSystemAware ? "system-aware" : "per-monitor aware";
}

std::string trace(DPI_AWARENESS_CONTEXT target, DPI_AWARENESS_CONTEXT caller, int dpi, bool borders) {
  return std::string(nameOf(target)) + " target, " + nameOf(caller) + " caller, " + std::to_string(dpi) +
         " dpi" + (borders ? ", with borders" : "");
}

const DPI_AWARENESS_CONTEXT kAwarenesses[] = {kUnaware, kSystemAware, kPerMonitor};
const int kDpis[] = {96, 120, 144, 192};

class TargetPixelsTest : public ::testing::Test {
 protected:
  void SetUp() override { display = Display{}; }

  // One frame: the copy must be the whole own rectangle, taken in one
  // context, the thread's context given back, every DC returned.
  TargetCopy copyAndCheck(const WindowCalls& calls, bool borders) {
    const Target& t = display.target;
    const DPI_AWARENESS_CONTEXT callerContext = display.thread;
    const int copiesBefore = display.copies;
    const TargetCopy copy = copyTarget(calls, kTarget, borders, kFrameDC, 240, 168, true);
    const LONG wholeWidth = borders ? t.frameLeft + t.clientWidth + t.frameRight : t.clientWidth;
    const LONG wholeHeight = borders ? t.frameTop + t.clientHeight + t.frameBottom : t.clientHeight;
    EXPECT_TRUE(copy.measured);
    EXPECT_EQ(copy.width, wholeWidth);
    EXPECT_EQ(copy.height, wholeHeight);
    EXPECT_EQ(display.copies, copiesBefore + 1);
    EXPECT_EQ(display.copied.cx, wholeWidth) << "the copy is not the whole area";
    EXPECT_EQ(display.copied.cy, wholeHeight) << "the copy is not the whole area";
    EXPECT_EQ(display.copiedTo.cx, 240);
    EXPECT_EQ(display.copiedTo.cy, 168);
    EXPECT_EQ(display.dcBorders, borders);
    EXPECT_FALSE(display.copyOutsidePixels);
    EXPECT_FALSE(display.dcUsedInAnotherContext) << "a device context was used in another context";
    EXPECT_EQ(display.dcsGiven, display.dcsTaken);
    EXPECT_EQ(display.thread, callerContext) << "the thread's context was not given back";
    return copy;
  }
};

TEST_F(TargetPixelsTest, TheWholeAreaIsMeasuredAndCopiedForEveryAwarenessAtEveryScaling) {
  const WindowCalls calls = fakeCalls();
  for (int dpi : kDpis) {
    for (DPI_AWARENESS_CONTEXT awareness : kAwarenesses) {
      for (DPI_AWARENESS_CONTEXT caller : {kPerMonitor, kUnaware}) {
        for (bool borders : {false, true}) {
          SCOPED_TRACE(trace(awareness, caller, dpi, borders));
          display = Display{};
          display.monitors[0].dpi = dpi;
          display.systemDpi = dpi;
          display.thread = caller;
          display.target = targetOf(awareness, 0);
          // The size label and the fields read the same rectangle.
          int32_t width = 0;
          int32_t height = 0;
          ASSERT_TRUE(measureInOwnTerms(calls, kTarget, borders, width, height));
          EXPECT_EQ(width, borders ? 576 : 480);
          EXPECT_EQ(height, borders ? 480 : 336);
          EXPECT_EQ(display.thread, caller);
          copyAndCheck(calls, borders);
        }
      }
    }
  }
}

TEST_F(TargetPixelsTest, TheCursorLandsWhereThePointerIs) {
  const WindowCalls calls = fakeCalls();
  for (int dpi : kDpis) {
    for (DPI_AWARENESS_CONTEXT awareness : kAwarenesses) {
      for (bool borders : {false, true}) {
        SCOPED_TRACE(trace(awareness, kPerMonitor, dpi, borders));
        display = Display{};
        display.monitors[0].dpi = dpi;
        display.systemDpi = 96;  // a system-aware target is scaled by the system too
        display.target = targetOf(awareness, 0);
        pointAtOwn(144, 96);
        const TargetCopy copy = copyAndCheck(calls, borders);
        ASSERT_TRUE(copy.pointerRead);
        const POINT expected = borders ? POINT{144 + 48, 96 + 96} : POINT{144, 96};
        EXPECT_EQ(copy.pointer.x, expected.x);
        EXPECT_EQ(copy.pointer.y, expected.y);
        // Copied at half size: the cursor's hotspot at half the pointer's place.
        const CursorPlacement c =
            placeCursor(copy.width, copy.height, 240, 168, copy.pointer, POINT{0, 0}, POINT{0, 0}, 32.0f);
        ASSERT_TRUE(c.draw);
        EXPECT_EQ(c.x, expected.x * 240 / copy.width);
        EXPECT_EQ(c.y, expected.y * 168 / copy.height);
        EXPECT_EQ(c.width, 32 * 240 / copy.width);
      }
    }
  }
}

TEST_F(TargetPixelsTest, ATargetMovedToAMonitorOfAnotherScalingIsMeasuredThereAtEveryFrame) {
  const WindowCalls calls = fakeCalls();
  for (DPI_AWARENESS_CONTEXT awareness : kAwarenesses) {
    SCOPED_TRACE(nameOf(awareness));
    display = Display{};
    display.monitors[0].dpi = 96;
    display.monitors[1].dpi = 192;
    display.target = targetOf(awareness, 0);
    pointAtOwn(48, 48);
    TargetCopy copy = copyAndCheck(calls, false);
    EXPECT_EQ(copy.pointer.x, 48);
    // On the 192-dpi monitor a per-monitor aware window lays itself out
    // again at twice the pixels; the others are stretched by the system and
    // keep their own.
    display.target = targetOf(awareness, 1);
    if (awareness == kPerMonitor) {
      display.target.clientWidth *= 2;
      display.target.clientHeight *= 2;
    }
    pointAtOwn(96, 96);
    copy = copyAndCheck(calls, false);
    EXPECT_EQ(copy.pointer.x, 96);
    EXPECT_EQ(copy.pointer.y, 96);
  }
}

// The display above is the test's oracle, so it must show the fault this
// code exists to avoid: read in the caller's terms, an aware target at 150%
// measures two thirds of its size and the copy leaves a third out; an
// unaware target measured per-monitor asks for more than its pixels.
TEST_F(TargetPixelsTest, WithoutTheSwitchTheDisplayCropsAndPadsAsWindowsDoes) {
  WindowCalls calls = fakeCalls();
  calls.getWindowDpiAwarenessContext = nullptr;
  calls.setThreadDpiAwarenessContext = nullptr;
  display.monitors[0].dpi = 144;
  display.systemDpi = 144;
  display.thread = kUnaware;
  display.target = targetOf(kPerMonitor, 0);
  TargetCopy copy = copyTarget(calls, kTarget, false, kFrameDC, 240, 168, false);
  EXPECT_EQ(copy.width, 320);
  EXPECT_EQ(copy.height, 224);
  EXPECT_EQ(display.switches, 0);

  display.thread = kPerMonitor;
  display.target = targetOf(kUnaware, 0);
  copy = copyTarget(calls, kTarget, false, kFrameDC, 240, 168, false);
  EXPECT_EQ(copy.width, 720);
  EXPECT_TRUE(display.copyOutsidePixels);
}

// Before Windows 10 1607 there are no thread contexts: at 100% the copy is
// whole as it always was, and nothing is switched.
TEST_F(TargetPixelsTest, WithoutThreadContextsTheProcessTermsAreUsed) {
  WindowCalls calls = fakeCalls();
  calls.getWindowDpiAwarenessContext = nullptr;
  calls.setThreadDpiAwarenessContext = nullptr;
  display.thread = kSystemAware;
  display.target = targetOf(kUnaware, 0);
  pointAtOwn(100, 50);
  const TargetCopy copy = copyAndCheck(calls, false);
  EXPECT_EQ(copy.pointer.x, 100);
  EXPECT_EQ(copy.pointer.y, 50);
  EXPECT_EQ(display.switches, 0);
}

TEST_F(TargetPixelsTest, NothingIsCopiedFromAMinimisedOrVanishedTarget) {
  const WindowCalls calls = fakeCalls();
  display.target = targetOf(kPerMonitor, 0);
  display.minimised = true;
  TargetCopy copy = copyTarget(calls, kTarget, false, kFrameDC, 240, 168, true);
  EXPECT_FALSE(copy.measured);
  EXPECT_FALSE(copy.pointerRead);
  display.minimised = false;
  display.target.clientWidth = 0;
  copy = copyTarget(calls, kTarget, false, kFrameDC, 240, 168, true);
  EXPECT_FALSE(copy.measured);
  // A handle that names no window any more: no context to switch to.
  int32_t width = -1;
  int32_t height = -1;
  EXPECT_FALSE(
      measureInOwnTerms(calls, reinterpret_cast<HWND>(static_cast<uintptr_t>(0x9999)), false, width, height));
  EXPECT_EQ(display.copies, 0);
  EXPECT_EQ(display.dcsTaken, display.dcsGiven);
  EXPECT_EQ(display.thread, kPerMonitor);
}

}  // namespace
