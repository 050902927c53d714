#include "Win32Files.h"

#include <cstring>

namespace qtlib {

OSErr pathFromName(ConstStr255Param name, std::string* path) {
  if (!name || !path) return paramErr;
  const size_t length = name[0];
  if (length == 0) return bdNamErr;
  std::string text(reinterpret_cast<const char*>(name + 1), length);
  for (size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c < 0x20 || std::strchr("<>\"|?*", c)) return bdNamErr;
    // "C:\..." is the only place a colon may stand; elsewhere Windows would
    // take it for an alternate data stream of another file.
    if (c == ':' && !(i == 1 && ((text[0] | 0x20) >= 'a' && (text[0] | 0x20) <= 'z'))) return bdNamErr;
  }
  *path = std::move(text);
  return noErr;
}

OSErr FileSink::write(uint64_t offset, const void* data, size_t size) {
  std::lock_guard<std::mutex> g(writing_);
  if (file_ == INVALID_HANDLE_VALUE) return fnOpnErr;
  if (offset > uint64_t(INT64_MAX) || size > uint64_t(INT64_MAX) - offset) return posErr;
  const char* bytes = static_cast<const char*>(data);
  while (size > 0) {
    // WriteFile counts in 32 bits; a sample larger than that goes in pieces.
    const DWORD chunk = size > 0x40000000u ? 0x40000000u : DWORD(size);
    // The offset goes with the write itself (on a handle opened for
    // synchronous I/O the call still returns when the bytes are written):
    // one call per piece, where moving the file pointer first took two.
    OVERLAPPED at = {};
    at.Offset = DWORD(offset);
    at.OffsetHigh = DWORD(offset >> 32);
    DWORD written = 0;
    if (!WriteFile(file_, bytes, chunk, &written, &at)) return osErrFromWin32(GetLastError());
    // Windows reports success with fewer bytes written when the volume is full.
    if (written != chunk) return dskFulErr;
    bytes += chunk;
    offset += chunk;
    size -= chunk;
  }
  return noErr;
}

OSErr FileSink::setLength(uint64_t length) {
  std::lock_guard<std::mutex> g(writing_);
  if (file_ == INVALID_HANDLE_VALUE) return fnOpnErr;
  if (length > uint64_t(INT64_MAX)) return posErr;
  LARGE_INTEGER at;
  at.QuadPart = LONGLONG(length);
  if (!SetFilePointerEx(file_, at, nullptr, FILE_BEGIN) || !SetEndOfFile(file_))
    return osErrFromWin32(GetLastError());
  return noErr;
}

OSErr FileSink::flush() {
  std::lock_guard<std::mutex> g(flushing_);
  if (!flushFileTried_) {
    flushFileTried_ = true;
    flushFile_ = CreateFileA(path_.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  }
  HANDLE file = flushFile_;
  if (file == INVALID_HANDLE_VALUE) {
    // No second handle: flush through the one that writes, which then waits.
    std::lock_guard<std::mutex> w(writing_);
    if (file_ == INVALID_HANDLE_VALUE) return fnOpnErr;
    return FlushFileBuffers(file_) ? OSErr(noErr) : osErrFromWin32(GetLastError());
  }
  return FlushFileBuffers(file) ? OSErr(noErr) : osErrFromWin32(GetLastError());
}

OSErr FileSink::close() {
  std::lock_guard<std::mutex> f(flushing_);
  std::lock_guard<std::mutex> w(writing_);
  if (flushFile_ != INVALID_HANDLE_VALUE) CloseHandle(flushFile_);
  flushFile_ = INVALID_HANDLE_VALUE;
  flushFileTried_ = true;  // closed: no flush handle any more
  if (file_ == INVALID_HANDLE_VALUE) return rfNumErr;
  const BOOL closed = CloseHandle(file_);
  file_ = INVALID_HANDLE_VALUE;
  return closed ? OSErr(noErr) : osErrFromWin32(GetLastError());
}

}  // namespace qtlib
