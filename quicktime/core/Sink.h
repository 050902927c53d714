// Where a movie file's bytes go. The library never opens files itself: the
// DLL opens the real file with Win32 and hands the writer a Sink, and tests
// hand it sinks that count, record or fail.
//
// Threads: write and setLength come from one thread at a time (the movie's
// lock orders them), but flush runs on the movie's own thread and may run
// while the next writes go on, so that the recording never waits for the
// disk.
#pragma once

#include <cstddef>
#include <cstdint>

#include "QuickTimeTypes.h"

namespace qt {

class Sink {
 public:
  virtual ~Sink() = default;
  // Writes `size` bytes at absolute `offset`, growing the file as needed.
  // Returns noErr, or the code of the failure (dskFulErr, ioErr, ...); after a
  // failure the bytes at that range are undefined.
  virtual OSErr write(uint64_t offset, const void* data, size_t size) = 0;
  // Cuts or extends the file to exactly `length` bytes.
  virtual OSErr setLength(uint64_t length) = 0;
  // Returns once every byte written before the call began is on the disk
  // itself, so that a power cut afterwards keeps it; the movie writer orders
  // its fragments around this call. Writes made while it runs need not be
  // covered. A failure is this call's alone: the next call flushes again.
  virtual OSErr flush() = 0;
};

}  // namespace qt
