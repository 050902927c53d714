// File specifications, Pascal strings, ratios, rectangles and handles as the
// program calls them.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <string>

#include "QuickTimeShellTest.h"
#include "platform/QuickTimeServices.h"

namespace {

TEST(FileSpecifications, NameTheFileWhetherOrNotItExists) {
  ASSERT_TRUE(quickTimeStarted());
  const std::string existing = programFolder() + "QuickTime.qts";
  PascalPath name(existing);
  FSSpec spec;
  std::memset(&spec, 0x55, sizeof spec);
  EXPECT_EQ(FSMakeFSSpec(0, 0, name.name(), &spec), noErr);
  EXPECT_EQ(spec.vRefNum, 0);
  EXPECT_EQ(spec.parID, 0);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(spec.name + 1), spec.name[0]), existing);

  const std::string missing = programFolder() + "not-here.mov";
  PascalPath missingName(missing);
  EXPECT_EQ(FSMakeFSSpec(0, 0, missingName.name(), &spec), fnfErr);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(spec.name + 1), spec.name[0]), missing)
      << "filled all the same: the program goes on to create it";
  PascalPath noFolder(programFolder() + "no-folder\\x.mov");
  EXPECT_EQ(FSMakeFSSpec(0, 0, noFolder.name(), &spec), dirNFErr);
  PascalPath bad(programFolder() + "x?.mov");
  EXPECT_EQ(FSMakeFSSpec(0, 0, bad.name(), &spec), bdNamErr);
  EXPECT_EQ(FSMakeFSSpec(0, 0, name.name(), nullptr), paramErr);
  EXPECT_EQ(FSMakeFSSpec(0, 0, nullptr, &spec), paramErr);
  EXPECT_EQ(FSMakeFSSpec(1, 0, name.name(), &spec), paramErr);
}

TEST(Toolbox, PascalStringsRatiosAndRectangles) {
  ASSERT_TRUE(quickTimeStarted());
  char text[300] = "C:\\a.mov";
  StringPtr p = c2pstr(text);
  ASSERT_EQ(p, reinterpret_cast<StringPtr>(text));
  EXPECT_EQ(p[0], 8);
  EXPECT_EQ(std::memcmp(p + 1, "C:\\a.mov", 8), 0);
  std::memset(text, 'x', 256);
  text[256] = 0;
  EXPECT_EQ(c2pstr(text)[0], 0) << "256 characters do not fit: empty, refused later";
  EXPECT_EQ(c2pstr(nullptr), nullptr);

  EXPECT_EQ(FixRatio(320, 1), 320 << 16);
  EXPECT_EQ(FixRatio(1, 2), 0x8000);
  EXPECT_EQ(FixRatio(-47, 1), -(47 << 16));
  Rect r;
  MacSetRect(&r, 1, 2, 47, 31);
  EXPECT_EQ(r.left, 1);
  EXPECT_EQ(r.top, 2);
  EXPECT_EQ(r.right, 47);
  EXPECT_EQ(r.bottom, 31);
}

TEST(Handles, LiveForTheProgramAndRefusedOnceDisposed) {
  ASSERT_TRUE(quickTimeStarted());
  Handle h = NewHandle(1000);
  ASSERT_NE(h, nullptr);
  MoveHHi(h);
  HLock(h);
  std::memset(*h, 0xAB, 1000);  // the whole block is ours to write
  Handle desc = NewHandle(4);
  ASSERT_NE(desc, nullptr);
  HUnlock(h);
  DisposeHandle(h);
  DisposeHandle(h);  // a second time: refused inside, no crash
  HLock(h);
  DisposeHandle(desc);
  EXPECT_EQ(NewHandle(-1), nullptr);
  DisposeHandle(nullptr);
}

}  // namespace
