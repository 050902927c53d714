#include "Toolbox.h"

#include <cstdint>
#include <cstring>

namespace qt {

void MacSetRect(Rect* r, int16_t left, int16_t top, int16_t right, int16_t bottom) {
  if (!r) return;
  r->top = top;
  r->left = left;
  r->bottom = bottom;
  r->right = right;
}

Fixed FixRatio(int16_t numer, int16_t denom) {
  constexpr int64_t kMax = 0x7FFFFFFF;
  constexpr int64_t kMin = -0x7FFFFFFF;  // 0x80000001
  if (denom == 0) return Fixed(numer < 0 ? kMin : kMax);
  int64_t q = (int64_t(numer) * 65536) / denom;
  if (q > kMax) q = kMax;
  if (q < INT32_MIN) q = kMin;
  return Fixed(q);
}

StringPtr c2pstr(char* s) {
  if (!s) return nullptr;
  constexpr size_t kMaxPascalLength = 255;
  size_t n = std::strlen(s);
  if (n > kMaxPascalLength) n = kMaxPascalLength;
  std::memmove(s + 1, s, n);
  s[0] = char(uint8_t(n));
  return reinterpret_cast<StringPtr>(s);
}

std::string pascalString(const unsigned char* p) {
  if (!p) return std::string();
  return std::string(reinterpret_cast<const char*>(p + 1), p[0]);
}

}  // namespace qt
