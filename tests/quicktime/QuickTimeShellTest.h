// Helpers for the tests of our QuickTime.qts under wine64. Every call goes the
// way the program's go: through the program's entries, the dispatcher and the
// library, which the environment below loads from the program's folder.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "QuickTimeTypes.h"

// The library, started once for the whole test program as the program starts
// it (InitializeQTML(0), then EnterMovies) and stopped at the end.
bool quickTimeStarted();

// The folder of this program, with a trailing backslash.
std::string programFolder();

// A Pascal copy of a path, made the way the program makes it (c2pstr on a
// buffer of the longest path).
struct PascalPath {
  explicit PascalPath(const std::string& path);
  char text[300];
  ConstStr255Param name() const { return reinterpret_cast<ConstStr255Param>(text); }
};

// An offscreen frame as the program keeps one: a graphics world and the DC it
// asked for, which it deletes itself before disposing of the world.
struct TestFrame {
  TestFrame(int16_t width, int16_t height, OSType pixelFormat = 0);
  ~TestFrame();
  TestFrame(const TestFrame&) = delete;
  TestFrame& operator=(const TestFrame&) = delete;
  PixMapHandle pixMap() const { return world ? world->portPixMap : nullptr; }
  // Draws frame `index` with GDI: colour blocks that move with the index and a
  // white "F", so a flip, a shift or a swap of red and blue shows.
  void draw(int index);
  // The pixels as R, G, B rows, read from the pixel map the compressor reads.
  std::vector<uint8_t> rgb() const;

  OSErr result = noErr;
  GWorldPtr world = nullptr;
  HDC dc = nullptr;
  int16_t width;
  int16_t height;
};

// A file's whole content, or empty when it cannot be read.
std::vector<uint8_t> readFile(const std::string& path);
bool fileExists(const std::string& path);
