// Memory that runs out inside the library is an error its caller is told,
// never the end of the process: every call the program makes, and every
// turn of a movie's own thread, goes through `unlessMemoryRunsOut`.
#pragma once

#include <new>
#include <type_traits>

#include "QuickTimeTypes.h"

namespace qt {

// Runs `call`; when memory runs out on the way (std::bad_alloc), runs
// `outOfMemory` instead and returns its result. Whatever the call had
// changed before it stays as the call left it: each operation orders its
// work so that what it leaves is consistent (a sample not added, a track
// not made, a movie atom not yet written).
template <typename Call, typename OutOfMemory>
auto unlessMemoryRunsOut(Call&& call, OutOfMemory&& outOfMemory) noexcept -> decltype(call()) {
  try {
    return call();
  } catch (const std::bad_alloc&) {
    return outOfMemory();
  }
}

}  // namespace qt
