// Movie files through Win32: the names the program hands over, the errors
// Windows reports turned into the classic codes the user is shown, and the
// sink the movie writer puts its bytes into.
#pragma once

#include <windows.h>

#include <cstdint>
#include <mutex>
#include <string>

#include "QuickTimeTypes.h"
#include "Win32FileErrors.h"
#include "Sink.h"

namespace qtlib {

// The path inside a length-prefixed name, when it is one Windows could name a
// file by: 1 to 255 characters, no control characters, none of < > " | ? *,
// and a colon only after a drive letter. bdNamErr otherwise.
OSErr pathFromName(ConstStr255Param name, std::string* path);

// A file opened for writing, as the movie writer's sink. Every write is
// checked: a short write is a full disk. Flushes come from the movie's
// keeper thread while the recording thread goes on writing: on a handle
// opened for synchronous I/O, Windows runs one call at a time, so a write
// would wait for FlushFileBuffers to end. The flush therefore goes through
// a second handle to the same file (the cache it empties is the file's, not
// the handle's). After close() every call answers fnOpnErr, so a movie that
// outlives its file cannot write into a handle that Windows may have given
// to someone else.
class FileSink : public qt::Sink {
 public:
  // `file` must share writing, so that the flush handle can be opened on
  // `path`; when it cannot be, flushes go through `file`.
  FileSink(HANDLE file, std::string path) : file_(file), path_(std::move(path)) {}
  ~FileSink() override { close(); }
  FileSink(const FileSink&) = delete;
  FileSink& operator=(const FileSink&) = delete;

  OSErr write(uint64_t offset, const void* data, size_t size) override;
  OSErr setLength(uint64_t length) override;
  OSErr flush() override;
  // noErr, or the error of closing (rfNumErr when already closed).
  OSErr close();

 private:
  // write and setLength come one at a time from the movie's lock, flush
  // from the keeper; these keep close() from pulling a handle from under
  // either. A write never waits for a flush: they take different locks.
  std::mutex writing_;
  std::mutex flushing_;
  HANDLE file_;
  HANDLE flushFile_ = INVALID_HANDLE_VALUE;
  bool flushFileTried_ = false;
  std::string path_;
};

}  // namespace qtlib
