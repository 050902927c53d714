// Windows' file errors as the classic codes a user is shown.
//
// Header-only, for the library and the program alike: the program checks a
// destination before any movie exists, and a destination it refuses must
// read as the same failure the library reports when it creates the file.
#pragma once

#include <windows.h>

#include "QuickTimeTypes.h"

// Not in the shared list: only file creation answers it.
constexpr OSErr dupFNErr = -48;  // a file of that name already exists

inline OSErr osErrFromWin32(DWORD error) {
  switch (error) {
    case ERROR_SUCCESS:
      return noErr;
    case ERROR_FILE_NOT_FOUND:
      return fnfErr;
    case ERROR_PATH_NOT_FOUND:
    case ERROR_BAD_NETPATH:
    case ERROR_INVALID_DRIVE:
      return dirNFErr;
    case ERROR_ACCESS_DENIED:
      return permErr;
    case ERROR_WRITE_PROTECT:
      return wPrErr;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      return fBsyErr;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return dupFNErr;
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_FILENAME_EXCED_RANGE:
    case ERROR_DIRECTORY:
      return bdNamErr;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return dskFulErr;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
      return memFullErr;
    case ERROR_INVALID_HANDLE:
      return rfNumErr;
    default:
      return ioErr;
  }
}
