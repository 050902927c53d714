#include "QuickTimeShellTest.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>

#include "platform/QuickTimeEnvironment.h"
#include "platform/QuickTimeServices.h"

namespace {

bool started = false;

class QuickTimeRun : public ::testing::Environment {
 public:
  void SetUp() override { started = environment_.start(); }
  void TearDown() override {
    if (started) environment_.stop();
  }

 private:
  QuickTimeEnvironment environment_;
};

const auto* const registered = ::testing::AddGlobalTestEnvironment(new QuickTimeRun);

}  // namespace

bool quickTimeStarted() { return started; }

std::string programFolder() {
  char path[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string folder(path);
  return folder.substr(0, folder.find_last_of('\\') + 1);
}

PascalPath::PascalPath(const std::string& path) {
  std::memset(text, 0, sizeof text);
  std::strncpy(text, path.c_str(), sizeof text - 2);
  c2pstr(text);
}

TestFrame::TestFrame(int16_t w, int16_t h, OSType pixelFormat) : width(w), height(h) {
  Rect bounds;
  MacSetRect(&bounds, 0, 0, w, h);
  result = QTNewGWorld(&world, pixelFormat, &bounds, nullptr, nullptr, 0);
  if (result == noErr) dc = static_cast<HDC>(GetPortHDC(world));
}

TestFrame::~TestFrame() {
  if (dc) DeleteDC(dc);
  if (world) DisposeGWorld(world);
}

void TestFrame::draw(int index) {
  auto fill = [this](int l, int t, int r, int b, COLORREF c) {
    RECT rc = {l, t, r, b};
    HBRUSH brush = CreateSolidBrush(c);
    FillRect(dc, &rc, brush);
    DeleteObject(brush);
  };
  const int w = width, h = height, s = index * 3;
  fill(0, 0, w, h, RGB(20, 40, 200));                       // blue ground
  fill(s % w, 0, w / 2 + s % w, h / 3, RGB(230, 20, 30));   // red block, moves right
  fill(0, h - h / 4, w / 3, h, RGB(30, 200, 60));           // green block, bottom left
  fill(w - w / 5, h / 2, w, h / 2 + 3, RGB(250, 240, 10));  // yellow bar, right edge
  // The "F": a stem and two arms pointing right, the lower arm shorter.
  const int x = w / 3, y = h / 4, u = h / 10 > 1 ? h / 10 : 1;
  fill(x, y, x + u, y + 6 * u, RGB(255, 255, 255));
  fill(x, y, x + 4 * u, y + u, RGB(255, 255, 255));
  fill(x, y + 3 * u, x + 3 * u, y + 4 * u, RGB(255, 255, 255));
  SetPixel(dc, w - 1, h - 1, RGB(index * 40 % 256, 128, 7));  // the last pixel of all
  GdiFlush();
}

std::vector<uint8_t> TestFrame::rgb() const {
  std::vector<uint8_t> out;
  const PixMap& pm = **pixMap();
  out.reserve(size_t(width) * height * 3);
  for (int y = 0; y < height; ++y) {
    const uint8_t* row = reinterpret_cast<const uint8_t*>(pm.baseAddr) + ptrdiff_t(y) * pm.rowStride;
    for (int x = 0; x < width; ++x) {
      out.push_back(row[x * 4 + 2]);
      out.push_back(row[x * 4 + 1]);
      out.push_back(row[x * 4 + 0]);
    }
  }
  return out;
}

std::vector<uint8_t> readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool fileExists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}
