// File specifications, fixed-point ratios, rectangles and Pascal strings.
#include <windows.h>

#include <cstring>
#include <string>

#include "Operations.h"
#include "Toolbox.h"
#include "Win32Files.h"

namespace qtlib {

namespace {
constexpr size_t kMaxPascalLength = 255;
}  // namespace

// An FSSpec names a file by its full Windows path; volume and folder
// numbers have no meaning here and must be 0. The FSSpec is filled
// even when the file does not exist yet, which is the usual case: the result
// then says fnfErr, as QuickTime's did, and the caller may go on to create it.
OSErr FSMakeFSSpec(int16_t vRefNum, int32_t dirID, ConstStr255Param fileName, FSSpec* spec) {
  if (!spec || !fileName) return paramErr;
  if (vRefNum != 0 || dirID != 0) return paramErr;
  spec->vRefNum = 0;
  spec->parID = 0;
  std::memcpy(spec->name, fileName, size_t(fileName[0]) + 1);
  std::string path;
  if (OSErr err = pathFromName(fileName, &path)) return err;
  if (GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES) return noErr;
  return osErrFromWin32(GetLastError());
}

Fixed FixRatio(int16_t numer, int16_t denom) { return qt::FixRatio(numer, denom); }

void MacSetRect(Rect* r, int16_t left, int16_t top, int16_t right, int16_t bottom) {
  qt::MacSetRect(r, left, top, right, bottom);
}

// A text too long for a Pascal string becomes the empty string rather than
// its first 255 characters: cut short, a path would name another file, maybe
// in another folder; empty, it is refused as a bad name wherever it is used.
StringPtr c2pstr(char* text) {
  if (!text) return nullptr;
  const bool tooLong = std::strlen(text) > kMaxPascalLength;
  StringPtr result = qt::c2pstr(text);
  if (tooLong) result[0] = 0;
  return result;
}

}  // namespace qtlib
