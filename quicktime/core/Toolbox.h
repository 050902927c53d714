// Small Toolbox utilities the program calls: rectangles, fixed-point ratios
// and Pascal strings.
#pragma once

#include <string>

#include "QuickTimeTypes.h"

namespace qt {

// Sets r to the rectangle (left, top)-(right, bottom). A null r is ignored.
void MacSetRect(Rect* r, int16_t left, int16_t top, int16_t right, int16_t bottom);

// numer / denom as 16.16 fixed point, truncated toward zero. Results beyond
// the range saturate to 0x7FFFFFFF or 0x80000001 (the symmetric negative
// limit), and so does a zero denominator, by the sign of the numerator (0/0
// gives 0x7FFFFFFF). -32768/1 is exactly representable and stays 0x80000000.
Fixed FixRatio(int16_t numer, int16_t denom);

// Turns a C string into a Pascal string in place and returns it. A Pascal
// string holds at most 255 characters: a longer string keeps its first 255
// characters (the caller refuses such paths before it gets here). Null gives
// null.
StringPtr c2pstr(char* s);

// The characters of a Pascal string.
std::string pascalString(const unsigned char* p);

}  // namespace qt
