// Graphics worlds: GDI drawing lands in the pixel map the compressor reads,
// bad requests are refused, and no GDI object outlives its world whether or
// not the program deleted the DC itself.
#include <gtest/gtest.h>

#include "QuickTimeShellTest.h"
#include "platform/QuickTimeServices.h"

namespace {

DWORD gdiObjects() { return GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS); }

TEST(GraphicsWorlds, DefaultAndBgraFormatsGiveATopDownPixelMapUnderTheDc) {
  ASSERT_TRUE(quickTimeStarted());
  for (OSType format : {OSType(0), k32BGRAPixelFormat}) {
    TestFrame frame(47, 31, format);
    ASSERT_EQ(frame.result, noErr);
    ASSERT_NE(frame.dc, nullptr);
    EXPECT_EQ(GetObjectType(frame.dc), DWORD(OBJ_MEMDC));
    const PixMap& pm = **frame.pixMap();
    EXPECT_EQ(pm.pixelFormat, k32BGRAPixelFormat);
    EXPECT_EQ(pm.pixelSize, 32);
    EXPECT_EQ(pm.rowStride, 47 * 4);
    EXPECT_EQ(pm.rowBytes, int16_t(0x8000 | (47 * 4)));
    EXPECT_EQ(pm.bounds.right, 47);
    EXPECT_EQ(pm.bounds.bottom, 31);
    EXPECT_EQ(frame.world->portRect.right, 47);
    EXPECT_EQ(LockPixels(frame.pixMap()), 1);

    // Red at the top-left pixel only, blue at the bottom-right: the map's
    // first row is the top, bytes B, G, R.
    RECT all = {0, 0, 47, 31};
    FillRect(frame.dc, &all, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
    SetPixel(frame.dc, 0, 0, RGB(255, 0, 0));
    SetPixel(frame.dc, 46, 30, RGB(0, 0, 255));
    GdiFlush();
    const uint8_t* first = reinterpret_cast<const uint8_t*>(pm.baseAddr);
    const uint8_t* last = first + 30 * pm.rowStride + 46 * 4;
    EXPECT_EQ(first[0], 0);
    EXPECT_EQ(first[2], 255);
    EXPECT_EQ(last[0], 255);
    EXPECT_EQ(last[2], 0);
    EXPECT_EQ(first[4 + 2], 0) << "the second pixel stays black";
    UnlockPixels(frame.pixMap());
  }
}

TEST(GraphicsWorlds, BadRequestsAreRefusedAndLeaveNothing) {
  ASSERT_TRUE(quickTimeStarted());
  const DWORD before = gdiObjects();
  GWorldPtr world = reinterpret_cast<GWorldPtr>(1);
  Rect r;
  MacSetRect(&r, 0, 0, 0, 10);
  EXPECT_EQ(QTNewGWorld(&world, 0, &r, nullptr, nullptr, 0), paramErr) << "width 0";
  EXPECT_EQ(world, nullptr);
  MacSetRect(&r, 0, 0, 10, -5);
  EXPECT_EQ(QTNewGWorld(&world, 0, &r, nullptr, nullptr, 0), paramErr) << "negative height";
  MacSetRect(&r, -30000, 0, 30000, 10);
  EXPECT_EQ(QTNewGWorld(&world, 0, &r, nullptr, nullptr, 0), paramErr) << "wider than 16 bits";
  MacSetRect(&r, 0, 0, 10, 10);
  EXPECT_EQ(QTNewGWorld(&world, fourCC("2vuy"), &r, nullptr, nullptr, 0), paramErr);
  EXPECT_EQ(QTNewGWorld(&world, 0, nullptr, nullptr, nullptr, 0), paramErr);
  EXPECT_EQ(QTNewGWorld(nullptr, 0, &r, nullptr, nullptr, 0), paramErr);
  EXPECT_EQ(QTNewGWorld(&world, 0, &r, nullptr, nullptr, 4), paramErr) << "option flags";
  // 32767 x 32767 x 4 bytes: more than the library can map.
  MacSetRect(&r, 0, 0, 32767, 32767);
  EXPECT_EQ(QTNewGWorld(&world, 0, &r, nullptr, nullptr, 0), memFullErr);
  EXPECT_EQ(world, nullptr);
  EXPECT_EQ(gdiObjects(), before);

  EXPECT_EQ(GetPortHDC(nullptr), nullptr);
  EXPECT_EQ(LockPixels(nullptr), 0);
  DisposeGWorld(nullptr);
  TestFrame frame(8, 8);
  ASSERT_EQ(frame.result, noErr);
  PixMapHandle pm = frame.pixMap();
  GWorldPtr disposed = frame.world;
  DeleteDC(frame.dc);
  frame.dc = nullptr;
  DisposeGWorld(disposed);
  frame.world = nullptr;
  EXPECT_EQ(LockPixels(pm), 0) << "the pixel map went with its world";
  EXPECT_EQ(GetPortHDC(disposed), nullptr);
  DisposeGWorld(disposed);  // a second time: nothing happens
}

TEST(GraphicsWorlds, NoGdiObjectOutlivesItsWorld) {
  ASSERT_TRUE(quickTimeStarted());
  Rect r;
  MacSetRect(&r, 0, 0, 320, 240);
  const DWORD before = gdiObjects();
  for (int i = 0; i < 200; ++i) {
    GWorldPtr world = nullptr;
    ASSERT_EQ(QTNewGWorld(&world, 0, &r, nullptr, nullptr, 0), noErr);
    switch (i % 3) {
      case 0: {  // as the program does: it deletes the DC, then the world
        HDC dc = static_cast<HDC>(GetPortHDC(world));
        ASSERT_TRUE(DeleteDC(dc));
        break;
      }
      case 1:  // the DC never asked for: the world deletes it
        break;
      case 2: {  // the DC kept past the world: the world leaves it alone
        HDC dc = static_cast<HDC>(GetPortHDC(world));
        DisposeGWorld(world);
        world = nullptr;
        EXPECT_EQ(GetObjectType(dc), DWORD(OBJ_MEMDC));
        ASSERT_TRUE(DeleteDC(dc));
        break;
      }
    }
    if (world) DisposeGWorld(world);
  }
  EXPECT_EQ(gdiObjects(), before);
}

}  // namespace
