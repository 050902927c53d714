// The real grabFrame against a real window of this process: the scaled copy,
// the cursor painted where the pointer is, borders, pacing, a target that
// goes away, a target of size 0, and GDI objects over a thousand frames.
// The frame's device context is a DIB section of our own, so the pixels can
// be read back without QuickTime; the movie writer is not open and drops
// every frame it is handed.
#include <windows.h>
#include <gtest/gtest.h>

#include <cstring>

#include "GdiObjects.h"
#include "app/CaptureState.h"
#include "capture/FrameClock.h"
#include "capture/FrameGrabber.h"
#include "movie/OffscreenFrame.h"

namespace {

constexpr int kClientWidth = 320;
constexpr int kClientHeight = 240;
constexpr COLORREF kRed = RGB(255, 0, 0);
constexpr COLORREF kGreen = RGB(0, 255, 0);
constexpr COLORREF kBlue = RGB(0, 0, 255);
constexpr COLORREF kYellow = RGB(255, 255, 0);
constexpr uint32_t kUnpainted = 0x00FF00FF;  // magenta, as 0x00RRGGBB
constexpr int kCursorHotspot = 8;

HCURSOR squareCursor = nullptr;

// A black 32 x 32 square with its hotspot at (8, 8): where it lands can be
// checked pixel by pixel, whatever the system's own cursors look like.
HCURSOR makeSquareCursor() {
  BYTE andMask[32 * 4];
  BYTE xorMask[32 * 4];
  memset(andMask, 0x00, sizeof andMask);
  memset(xorMask, 0x00, sizeof xorMask);
  return CreateCursor(GetModuleHandleA(nullptr), kCursorHotspot, kCursorHotspot, 32, 32, andMask, xorMask);
}

void fill(HDC dc, int x, int y, int w, int h, COLORREF colour) {
  HBRUSH brush = CreateSolidBrush(colour);
  RECT r = {x, y, x + w, y + h};
  FillRect(dc, &r, brush);
  DeleteObject(brush);
}

// Four blocks, one per quarter: red, green / blue, yellow.
LRESULT CALLBACK patternProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(window, &ps);
      fill(dc, 0, 0, kClientWidth / 2, kClientHeight / 2, kRed);
      fill(dc, kClientWidth / 2, 0, kClientWidth / 2, kClientHeight / 2, kGreen);
      fill(dc, 0, kClientHeight / 2, kClientWidth / 2, kClientHeight / 2, kBlue);
      fill(dc, kClientWidth / 2, kClientHeight / 2, kClientWidth / 2, kClientHeight / 2, kYellow);
      EndPaint(window, &ps);
      return 0;
    }
    case WM_SETCURSOR:
      SetCursor(squareCursor);
      return TRUE;
    default:
      return DefWindowProcA(window, message, wParam, lParam);
  }
}

void pump() {
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
}

class FrameGrabberTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    squareCursor = makeSquareCursor();
    WNDCLASSA wc = {};
    wc.lpfnWndProc = patternProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "SkelbyGrabberPattern";
    ASSERT_NE(RegisterClassA(&wc), 0) << "RegisterClass failed with " << GetLastError();
  }

  void SetUp() override {
    captureState = CaptureState{};
    lastFrameTime = 0;
    bordersCaptured = 0;
    calibrateClock();
    RECT r = {0, 0, kClientWidth, kClientHeight};
    AdjustWindowRect(&r, WS_OVERLAPPEDWINDOW, FALSE);
    // In a Wine session that has just started, the first windows can be
    // refused while the desktop comes up: try again for a few seconds.
    for (int attempt = 0; attempt < 40 && !target; ++attempt) {
      if (attempt) Sleep(250);
      target = CreateWindowExA(WS_EX_TOPMOST, "SkelbyGrabberPattern", "Grabber pattern",
                               WS_OVERLAPPEDWINDOW | WS_VISIBLE, 200, 150, r.right - r.left, r.bottom - r.top,
                               nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
    }
    ASSERT_NE(target, nullptr) << "CreateWindowEx failed with " << GetLastError();
    SetForegroundWindow(target);
    UpdateWindow(target);
    pump();
    Sleep(100);
    pump();
    // Park the pointer away from the target unless a test moves it.
    SetCursorPos(5, 1000);
    pump();
  }

  void TearDown() override {
    delete captureState.currentFrame;  // deletes the frame's DC
    captureState.currentFrame = nullptr;
    if (frameBitmap) DeleteObject(frameBitmap);
    frameBitmap = nullptr;
    if (IsWindow(target)) DestroyWindow(target);
    pump();
    captureState = CaptureState{};
  }

  // A frame of the output size whose device context draws into pixels we
  // can read: 32 bits, top-down, filled with magenta.
  void makeFrame(int width, int height) {
    captureState.outputWidth = width;
    captureState.outputHeight = height;
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    frameBitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    ASSERT_NE(frameBitmap, nullptr);
    pixels = static_cast<uint32_t*>(bits);
    frameWidth = width;
    for (int i = 0; i < width * height; ++i) pixels[i] = kUnpainted;
    auto* frame = new OffscreenFrame();
    frame->dc = CreateCompatibleDC(nullptr);
    SelectObject(frame->dc, frameBitmap);
    SetStretchBltMode(frame->dc, COLORONCOLOR);
    frame->width = static_cast<int16_t>(width);
    frame->height = static_cast<int16_t>(height);
    captureState.currentFrame = frame;
  }

  void useClientArea() {
    captureState.sourceWidth = kClientWidth;
    captureState.sourceHeight = kClientHeight;
  }

  // Calls grabFrame until it takes a frame (lastFrameTime moves on).
  void grabOneFrame() {
    captureState.frameInterval = 1;
    grabFrame(target);  // the first call may only take the reference
    const uint32_t reference = lastFrameTime;
    for (int i = 0; i < 1000 && lastFrameTime == reference; ++i) {
      Sleep(1);
      grabFrame(target);
    }
    ASSERT_NE(lastFrameTime, reference) << "no frame was taken";
  }

  uint32_t pixel(int x, int y) const { return pixels[y * frameWidth + x] & 0x00FFFFFF; }

  void pointAt(int clientX, int clientY) {
    POINT p = {clientX, clientY};
    ClientToScreen(target, &p);
    SetCursorPos(p.x, p.y);
    pump();
    SetCursor(squareCursor);
  }

  HWND target = nullptr;
  HBITMAP frameBitmap = nullptr;
  uint32_t* pixels = nullptr;
  int frameWidth = 0;
};

constexpr uint32_t rgb(COLORREF c) {
  return (uint32_t(GetRValue(c)) << 16) | (uint32_t(GetGValue(c)) << 8) | GetBValue(c);
}

TEST_F(FrameGrabberTest, CopiesTheTargetScaledToTheOutputSize) {
  makeFrame(160, 120);
  useClientArea();
  grabOneFrame();
  EXPECT_EQ(pixel(40, 30), rgb(kRed));
  EXPECT_EQ(pixel(120, 30), rgb(kGreen));
  EXPECT_EQ(pixel(40, 90), rgb(kBlue));
  EXPECT_EQ(pixel(120, 90), rgb(kYellow));
  EXPECT_EQ(pixel(0, 0), rgb(kRed));
  EXPECT_EQ(pixel(159, 119), rgb(kYellow));
}

TEST_F(FrameGrabberTest, NoFrameBeforeTheIntervalHasPassed) {
  makeFrame(160, 120);
  useClientArea();
  captureState.frameInterval = 60000;
  for (int i = 0; i < 20; ++i) grabFrame(target);
  EXPECT_EQ(pixel(40, 30), kUnpainted);
  EXPECT_NE(lastFrameTime, 0u);  // the reference was taken
}

TEST_F(FrameGrabberTest, PaintsTheCursorScaledWhereThePointerIs) {
  makeFrame(160, 120);  // half size: the 32-pixel square becomes 16
  useClientArea();
  captureState.captureCursor = 1;
  pointAt(100, 60);
  grabOneFrame();
  // Top-left corner of the square: ((100 - 8) / 2, (60 - 8) / 2) = (46, 26).
  EXPECT_EQ(pixel(46, 26), 0u);
  EXPECT_EQ(pixel(61, 41), 0u);             // its last pixel
  EXPECT_EQ(pixel(45, 26), rgb(kRed));      // just left of it
  EXPECT_EQ(pixel(62, 41), rgb(kRed));      // just right of it
  EXPECT_EQ(pixel(46, 42), rgb(kRed));      // just below it
  EXPECT_EQ(pixel(120, 90), rgb(kYellow));  // far from it
}

TEST_F(FrameGrabberTest, NoCursorUnlessAskedFor) {
  makeFrame(160, 120);
  useClientArea();
  captureState.captureCursor = 0;
  pointAt(100, 60);
  grabOneFrame();
  EXPECT_EQ(pixel(50, 30), rgb(kRed));
}

TEST_F(FrameGrabberTest, WithBordersTheCursorLandsWhereItIsInTheWholeWindow) {
  RECT window;
  GetWindowRect(target, &window);
  const int width = window.right - window.left;
  const int height = window.bottom - window.top;
  makeFrame(width, height);  // 1:1, so pixels map directly
  bordersCaptured = 1;
  captureState.sourceWidth = width;
  captureState.sourceHeight = height;
  captureState.captureCursor = 1;
  pointAt(100, 60);
  grabOneFrame();
  POINT client = {0, 0};
  ClientToScreen(target, &client);
  const int dx = client.x - window.left;
  const int dy = client.y - window.top;
  ASSERT_GT(dy, 0) << "the window should have a caption";
  // Client point (100, 60) is window point (100 + dx, 60 + dy).
  EXPECT_EQ(pixel(100 + dx - kCursorHotspot, 60 + dy - kCursorHotspot), 0u);
  EXPECT_EQ(pixel(100 + dx + 23, 60 + dy + 23), 0u);
  EXPECT_EQ(pixel(100 + dx + 24, 60 + dy + 23), rgb(kRed));
  // The client area's red block starts at the offset.
  EXPECT_EQ(pixel(dx + 2, dy + 2), rgb(kRed));
}

TEST_F(FrameGrabberTest, AMinimisedTargetIsNotCopiedAndIsRecordedWholeOnceRestored) {
  makeFrame(160, 120);
  useClientArea();
  captureState.captureCursor = 1;
  ShowWindow(target, SW_MINIMIZE);
  pump();
  ASSERT_TRUE(IsIconic(target));
  pointAt(10, 10);
  grabOneFrame();
  // Nothing copied, no cursor painted: the frame is as it was.
  EXPECT_EQ(pixel(0, 0), kUnpainted);
  EXPECT_EQ(pixel(5, 5), kUnpainted);
  EXPECT_EQ(pixel(80, 60), kUnpainted);

  // Restored, it is measured again and copied whole.
  captureState.captureCursor = 0;
  ShowWindow(target, SW_RESTORE);
  UpdateWindow(target);
  pump();
  grabOneFrame();
  EXPECT_EQ(captureState.sourceWidth, kClientWidth);
  EXPECT_EQ(captureState.sourceHeight, kClientHeight);
  EXPECT_EQ(pixel(40, 30), rgb(kRed));
  EXPECT_EQ(pixel(120, 90), rgb(kYellow));
}

TEST_F(FrameGrabberTest, ATargetResizedWhileRecordedIsCopiedWholeAtItsNewSize) {
  makeFrame(160, 120);
  useClientArea();
  grabOneFrame();
  ASSERT_EQ(pixel(40, 90), rgb(kBlue));
  // Half as high: only the red and green blocks are left, and they fill the
  // whole frame. (Not half as wide: at high display scalings a captioned
  // window cannot be made narrower than its caption's buttons.) The frame is
  // the one the system draws now, which at display scalings other than the
  // system's is not what AdjustWindowRect says.
  RECT outer = {};
  RECT inner = {};
  GetWindowRect(target, &outer);
  GetClientRect(target, &inner);
  const int borderWidth = (outer.right - outer.left) - inner.right;
  const int borderHeight = (outer.bottom - outer.top) - inner.bottom;
  SetWindowPos(target, nullptr, 0, 0, kClientWidth + borderWidth, kClientHeight / 2 + borderHeight,
               SWP_NOMOVE | SWP_NOZORDER);
  UpdateWindow(target);
  pump();
  RECT client = {};
  GetClientRect(target, &client);
  ASSERT_EQ(client.bottom, kClientHeight / 2) << "the window manager kept another size";
  grabOneFrame();
  EXPECT_EQ(captureState.sourceHeight, kClientHeight / 2);
  EXPECT_EQ(pixel(40, 90), rgb(kRed));
  EXPECT_EQ(pixel(159, 119), rgb(kGreen));
}

TEST_F(FrameGrabberTest, AFrameThatCannotBeKeptIsReportedNotPassedOver) {
  makeFrame(160, 120);
  useClientArea();
  // The movie writer is not open: the frame is not kept, and says so.
  lastFrameTime = 1;
  GrabResult result = grabFrame(target);
  EXPECT_EQ(result.error, paramErr);
  EXPECT_FALSE(result.inFile);
  // Nothing to draw into.
  delete captureState.currentFrame;
  captureState.currentFrame = new OffscreenFrame();
  lastFrameTime = 1;
  result = grabFrame(target);
  EXPECT_EQ(result.error, paramErr);
  // And no frame due: nothing to report.
  captureState.frameInterval = 60000;
  lastFrameTime = clockMilliseconds();
  result = grabFrame(target);
  EXPECT_EQ(result.error, noErr);
}

TEST_F(FrameGrabberTest, ATargetThatClosedIsLetGoAndLookedForAgain) {
  makeFrame(160, 120);
  useClientArea();
  grabOneFrame();
  captureState.targetWindow = target;
  DestroyWindow(target);
  pump();
  const uint32_t reference = lastFrameTime;
  Sleep(5);
  grabFrame(captureState.targetWindow);
  EXPECT_EQ(captureState.targetWindow, nullptr);
  // The reference stays, so the next frame lasts over the whole gap.
  EXPECT_EQ(lastFrameTime, reference);
}

TEST_F(FrameGrabberTest, ACursorWhoseShapeCannotBeReadIsDrawnAsTheArrow) {
  POINT hotspot = {-1, -1};
  EXPECT_EQ(drawableCursor(squareCursor, true, hotspot), squareCursor);
  EXPECT_EQ(hotspot.x, kCursorHotspot);
  EXPECT_EQ(hotspot.y, kCursorHotspot);

  // A handle whose shape cannot be read, as another process's cursor is
  // under Wine: the arrow, with the arrow's own hotspot.
  HCURSOR gone = makeSquareCursor();
  ASSERT_TRUE(DestroyCursor(gone));
  ICONINFO unreadable = {};
  ASSERT_FALSE(GetIconInfo(gone, &unreadable)) << "the destroyed cursor can still be read";
  HCURSOR arrow = LoadCursorA(nullptr, IDC_ARROW);
  ICONINFO arrowInfo = {};
  ASSERT_TRUE(GetIconInfo(arrow, &arrowInfo));
  DeleteObject(arrowInfo.hbmMask);
  if (arrowInfo.hbmColor) DeleteObject(arrowInfo.hbmColor);
  hotspot = POINT{-1, -1};
  EXPECT_EQ(drawableCursor(gone, true, hotspot), arrow);
  EXPECT_EQ(hotspot.x, LONG(arrowInfo.xHotspot));
  EXPECT_EQ(hotspot.y, LONG(arrowInfo.yHotspot));

  // A cursor that could not be asked for (the owner thread's input would not
  // attach): the pointer is still there, so the arrow is drawn.
  hotspot = POINT{-1, -1};
  EXPECT_EQ(drawableCursor(nullptr, false, hotspot), arrow);
  EXPECT_EQ(hotspot.x, LONG(arrowInfo.xHotspot));

  // No cursor shown (hidden): nothing to draw, not an arrow.
  EXPECT_EQ(drawableCursor(nullptr, true, hotspot), nullptr);
}

TEST_F(FrameGrabberTest, GdiObjectsStayFlatOverAThousandFramesWithTheCursor) {
  // First make sure the count sees the very leak it is here to catch: the
  // icon query hands out bitmaps that someone must delete.
  const DWORD before = gdiObjectCount();
  ASSERT_GT(before, 0u) << "no way to count GDI objects here";
  ICONINFO info[3];
  for (ICONINFO& i : info) ASSERT_TRUE(GetIconInfo(squareCursor, &i));
  EXPECT_GE(gdiObjectCount(), before + 3);
  for (ICONINFO& i : info) {
    DeleteObject(i.hbmMask);
    if (i.hbmColor) DeleteObject(i.hbmColor);
  }
  EXPECT_EQ(gdiObjectCount(), before);

  makeFrame(160, 120);
  useClientArea();
  captureState.captureCursor = 1;
  pointAt(100, 60);
  grabOneFrame();  // whatever the first frame allocates once
  const DWORD start = gdiObjectCount();
  int frames = 0;
  for (int i = 0; i < 1000; ++i) {
    lastFrameTime = 1;  // long ago: every call takes a frame
    grabFrame(target);
    ++frames;
  }
  EXPECT_EQ(frames, 1000);
  EXPECT_EQ(pixel(46, 26), 0u) << "the cursor was drawn";
  EXPECT_LE(gdiObjectCount(), start + 2) << "started at " << start;
}

}  // namespace
