// Offscreen graphics worlds and their Windows device contexts.
//
// A world's pixels are a top-down 32-bit DIB section with a memory DC on it,
// so what GDI draws through the DC lands in the very pixel map that the
// compressor reads: no copy between drawing and compressing.
//
// Pixel format 0 asks for the library's choice, which is 32-bit BGRA too:
// it is what a DIB section holds and what GDI draws into, and the only
// format the compressors read. (GDI leaves the fourth byte undefined; the
// codecs write 24-bit colour and never read it.)
#include <windows.h>

#include <cstdint>
#include <memory>
#include <new>
#include <unordered_map>

#include "Handles.h"
#include "Operations.h"

namespace qtlib {

namespace {

constexpr int kMaxDimension = 32767;           // sizes in image descriptions are 16-bit
constexpr int64_t kMaxPixelBytes = INT32_MAX;  // what a 32-bit process could ever map
constexpr int kBytesPerPixel = 4;
constexpr int16_t kRGBDirect = 16;  // pixelType of a direct-colour pixel map
constexpr Fixed k72Dpi = 72 << 16;

struct World {
  CGrafPort port{};
  HBITMAP dib = nullptr;
  HDC dc = nullptr;
  HGDIOBJ previousBitmap = nullptr;  // what the new DC held, put back before the DIB goes
  // Once GetPortHDC has handed the DC out, the program owns it and deletes
  // it itself, before or after disposing of the world.
  bool dcHandedOut = false;
};

// Live worlds by their port, and their pixel maps, so a disposed or foreign
// pointer is refused rather than followed.
std::unordered_map<CGrafPtr, std::unique_ptr<World>>& worlds() {
  static auto* w = new std::unordered_map<CGrafPtr, std::unique_ptr<World>>;
  return *w;
}

World* findWorld(CGrafPtr port) {
  auto it = worlds().find(port);
  return it == worlds().end() ? nullptr : it->second.get();
}

bool isWorldPixMap(PixMapHandle pm) {
  if (!pm || qt::CheckHandle(reinterpret_cast<Handle>(pm)) != noErr) return false;
  for (const auto& w : worlds())
    if (w.second->port.portPixMap == pm) return true;
  return false;
}

// Releases the Windows objects and the pixel map of a world, in the order GDI
// needs: the DIB section can only be deleted once no DC holds it.
void releaseWorld(World& w) {
  if (w.dc) {
    if (!w.dcHandedOut) {
      SelectObject(w.dc, w.previousBitmap);
      DeleteDC(w.dc);
    } else if (GetObjectType(w.dc) == OBJ_MEMDC && GetCurrentObject(w.dc, OBJ_BITMAP) == w.dib) {
      // The program still holds the DC: it keeps the DC, the DIB leaves it.
      SelectObject(w.dc, w.previousBitmap);
    }
    // Otherwise the program deleted its DC, which let go of the DIB.
    w.dc = nullptr;
  }
  if (w.dib) {
    DeleteObject(w.dib);
    w.dib = nullptr;
  }
  if (w.port.portPixMap) {
    qt::DisposeHandle(reinterpret_cast<Handle>(w.port.portPixMap));
    w.port.portPixMap = nullptr;
  }
}

OSErr checkBounds(const Rect* bounds) {
  if (!bounds) return paramErr;
  const int width = int(bounds->right) - int(bounds->left);
  const int height = int(bounds->bottom) - int(bounds->top);
  if (width < 1 || height < 1 || width > kMaxDimension || height > kMaxDimension) return paramErr;
  return noErr;
}

OSErr makePixels(World& w, const Rect& bounds) {
  const int width = int(bounds.right) - int(bounds.left);
  const int height = int(bounds.bottom) - int(bounds.top);
  // 32-bit DIB rows need no padding: every row is a whole number of DWORDs.
  const int64_t stride = int64_t(width) * kBytesPerPixel;
  if (stride * height > kMaxPixelBytes) return memFullErr;

  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;  // negative: rows top-down, as a pixel map has them
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  w.dib = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (!w.dib || !bits) return memFullErr;
  w.dc = CreateCompatibleDC(nullptr);
  if (!w.dc) return memFullErr;
  w.previousBitmap = SelectObject(w.dc, w.dib);
  if (!w.previousBitmap || w.previousBitmap == HGDI_ERROR) {
    w.previousBitmap = nullptr;
    DeleteDC(w.dc);
    w.dc = nullptr;
    return memFullErr;
  }
  // GDI coordinates are the world's own: the bounds' top left is the first pixel.
  SetViewportOrgEx(w.dc, -bounds.left, -bounds.top, nullptr);

  Handle h = qt::NewHandle(sizeof(PixMap));
  if (!h) return memFullErr;
  qt::HLock(h);  // the pixel map never moves while the world lives
  PixMapHandle pmh = reinterpret_cast<PixMapHandle>(h);
  PixMap& pm = **pmh;
  pm.baseAddr = static_cast<Ptr>(bits);
  pm.rowBytes = int16_t(kPixMapFlag | (stride < kRowBytesMask ? stride : kRowBytesMask));
  pm.bounds = bounds;
  pm.hRes = k72Dpi;
  pm.vRes = k72Dpi;
  pm.pixelType = kRGBDirect;
  pm.pixelSize = 32;
  pm.cmpCount = 3;
  pm.cmpSize = 8;
  pm.pixelFormat = k32BGRAPixelFormat;
  pm.rowStride = int32_t(stride);
  w.port.portPixMap = pmh;
  return noErr;
}

OSErr newWorld(GWorldPtr* offscreen, OSType pixelFormat, const Rect* bounds, CTabHandle cTable, void* device,
               uint32_t flags) {
  if (!offscreen) return paramErr;
  *offscreen = nullptr;
  if (OSErr err = checkBounds(bounds)) return err;
  if (pixelFormat != 0 && pixelFormat != k32BGRAPixelFormat) return paramErr;
  // A colour table, a device or option flags select what 32-bit worlds of
  // this library do not have; taking them silently would ignore the caller.
  if (cTable || device || flags) return paramErr;

  std::unique_ptr<World> w(new (std::nothrow) World);
  if (!w) return memFullErr;
  if (OSErr err = makePixels(*w, *bounds)) {
    releaseWorld(*w);
    return err;
  }
  w->port.portRect = *bounds;
  w->port.platformData = w.get();
  CGrafPtr port = &w->port;
  try {
    // The slot is made first, so a failure leaves the world in our hands.
    worlds()[port] = std::move(w);
  } catch (const std::bad_alloc&) {
    releaseWorld(*w);
    return memFullErr;
  }
  *offscreen = port;
  return noErr;
}

}  // namespace

OSErr QTNewGWorld(GWorldPtr* offscreen, OSType pixelFormat, const Rect* bounds, CTabHandle cTable,
                  void* device, uint32_t flags) {
  return newWorld(offscreen, pixelFormat, bounds, cTable, device, flags);
}

void* GetPortHDC(CGrafPtr port) {
  World* w = findWorld(port);
  if (!w) return nullptr;
  w->dcHandedOut = true;
  return w->dc;
}

uint8_t LockPixels(PixMapHandle pm) { return isWorldPixMap(pm) ? 1 : 0; }

// The pixels of a world never move, so there is nothing to undo.
void UnlockPixels(PixMapHandle) {}

void DisposeGWorld(GWorldPtr offscreen) {
  auto it = worlds().find(offscreen);
  if (it == worlds().end()) return;
  releaseWorld(*it->second);
  worlds().erase(it);
}

}  // namespace qtlib
