// Movie files through Win32: the names the program hands over, the errors
// Windows reports turned into the classic codes the user is shown, and the
// sink the movie writer puts its bytes into.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "BackgroundFlush.h"
#include "QuickTimeTypes.h"
#include "Sink.h"

namespace qtlib {

// Not in the shared list: only file creation answers it.
constexpr OSErr dupFNErr = -48;  // a file of that name already exists

// The classic code that tells the user the truth about a failed file call.
OSErr osErrFromWin32(DWORD error);

// The path inside a length-prefixed name, when it is one Windows could name a
// file by: 1 to 255 characters, no control characters, none of < > " | ? *,
// and a colon only after a drive letter. bdNamErr otherwise.
OSErr pathFromName(ConstStr255Param name, std::string* path);

// A file opened for writing, as the movie writer's sink. Every write is
// checked: a short write is a full disk. Flushes can run in the background
// (FlushFileBuffers on a thread of the sink's own) while writes go on. After
// close() every call answers fnOpnErr, so a movie that outlives its file
// cannot write into a handle that Windows may have given to someone else.
class FileSink : public qt::Sink {
 public:
  explicit FileSink(HANDLE file) : file_(file), background_([this] { return flushNow(); }) {}
  ~FileSink() override { close(); }
  FileSink(const FileSink&) = delete;
  FileSink& operator=(const FileSink&) = delete;

  OSErr write(uint64_t offset, const void* data, size_t size) override;
  OSErr setLength(uint64_t length) override;
  OSErr flush() override;
  OSErr startFlush() override;
  OSErr flushStatus() override;
  // noErr, or the error of closing (rfNumErr when already closed).
  OSErr close();

 private:
  OSErr flushNow();

  HANDLE file_;
  qt::BackgroundFlush background_;
};

}  // namespace qtlib
