// Where a movie file's bytes go. The library never opens files itself: the
// DLL opens the real file with Win32 and hands the writer a Sink, and tests
// hand it sinks that count, record or fail.
#pragma once

#include <cstddef>
#include <cstdint>

#include "QuickTimeTypes.h"

namespace qt {

// What startFlush and flushStatus answer while a flush goes on in the
// background; positive, so it is never taken for a QuickTime error.
constexpr OSErr kFlushInProgress = 1;

class Sink {
 public:
  virtual ~Sink() = default;
  // Writes `size` bytes at absolute `offset`, growing the file as needed.
  // Returns noErr, or the code of the failure (dskFulErr, ioErr, ...); after a
  // failure the bytes at that range are undefined.
  virtual OSErr write(uint64_t offset, const void* data, size_t size) = 0;
  // Cuts or extends the file to exactly `length` bytes.
  virtual OSErr setLength(uint64_t length) = 0;
  // Returns once every byte written so far is on the disk itself, so that a
  // power cut afterwards keeps it; the movie writer orders its checkpoints
  // around this call. It waits for a flush started before, too.
  virtual OSErr flush() = 0;
  // Starts what flush() does and, where the sink can, returns at once with
  // kFlushInProgress while the disk catches up; flushStatus then says when
  // it is done and how it went. Writes may go on meanwhile; they are not
  // covered by it. A sink that cannot flush in the background flushes here.
  virtual OSErr startFlush() { return flush(); }
  virtual OSErr flushStatus() { return noErr; }
};

}  // namespace qt
