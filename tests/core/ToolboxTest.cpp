#include "Toolbox.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

TEST(Toolbox, MacSetRectTakesLeftTopRightBottom) {
  Rect r{};
  qt::MacSetRect(&r, 1, 2, 320, 240);
  EXPECT_EQ(r.left, 1);
  EXPECT_EQ(r.top, 2);
  EXPECT_EQ(r.right, 320);
  EXPECT_EQ(r.bottom, 240);
  qt::MacSetRect(nullptr, 0, 0, 1, 1);  // ignored, no crash
}

TEST(Toolbox, FixRatioGivesSixteenSixteen) {
  EXPECT_EQ(qt::FixRatio(640, 1), 640 << 16);
  EXPECT_EQ(qt::FixRatio(1, 2), 0x8000);
  EXPECT_EQ(qt::FixRatio(-3, 2), -0x18000);
  EXPECT_EQ(qt::FixRatio(1, 3), 0x5555);  // truncated
  EXPECT_EQ(qt::FixRatio(32767, 1), 32767 << 16);
  EXPECT_EQ(qt::FixRatio(-32768, 1), INT32_MIN);  // exactly -32768.0
}

TEST(Toolbox, FixRatioSaturatesOnZeroDenominatorAndOverflow) {
  EXPECT_EQ(qt::FixRatio(5, 0), 0x7FFFFFFF);
  EXPECT_EQ(qt::FixRatio(0, 0), 0x7FFFFFFF);
  EXPECT_EQ(qt::FixRatio(-5, 0), int32_t(0x80000001));
  EXPECT_EQ(qt::FixRatio(-32768, -1), 0x7FFFFFFF);
  EXPECT_EQ(qt::FixRatio(32767, -1), -(32767 << 16));
}

TEST(Toolbox, C2pstrConvertsInPlace) {
  char s[16] = "C:\\a.mov";
  StringPtr p = qt::c2pstr(s);
  EXPECT_EQ(reinterpret_cast<char*>(p), s);
  EXPECT_EQ(p[0], 8);
  EXPECT_EQ(std::memcmp(p + 1, "C:\\a.mov", 8), 0);
  EXPECT_EQ(qt::pascalString(p), "C:\\a.mov");
  char empty[1] = "";
  EXPECT_EQ(qt::c2pstr(empty)[0], 0);
  EXPECT_EQ(qt::c2pstr(nullptr), nullptr);
}

TEST(Toolbox, C2pstrKeepsAtMost255Characters) {
  std::string exact(255, 'x');
  exact[254] = 'y';
  char buf[300];
  std::strcpy(buf, exact.c_str());
  EXPECT_EQ(qt::c2pstr(buf)[0], 255);
  EXPECT_EQ(qt::pascalString(reinterpret_cast<unsigned char*>(buf)), exact);

  std::string longer = std::string(255, 'a') + "bcdef";
  std::strcpy(buf, longer.c_str());
  StringPtr p = qt::c2pstr(buf);
  EXPECT_EQ(p[0], 255);
  EXPECT_EQ(qt::pascalString(p), std::string(255, 'a'));
}

}  // namespace
