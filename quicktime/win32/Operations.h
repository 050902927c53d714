// One handler per QuickTime operation, declared from the shared operation
// table so that a handler whose signature drifts from the table fails to link.
// The definitions live in one file per area: MoviesOperations.cpp,
// ImageCompressionOperations.cpp, GraphicsWorldOperations.cpp,
// MemoryOperations.cpp, MiscOperations.cpp, LibraryOperations.cpp.
#pragma once

#include <cstdint>

#include "QuickTimeOperations.h"
#include "QuickTimeTypes.h"

namespace qtlib {

// What an operation that is not implemented yet answers when its result is
// an error code; the others answer null or 0.
constexpr OSErr unimpErr = -4;

#define SKELBY_DECLARE_QUICKTIME_HANDLER(group, routine, name, kind, result, params) result name params;
QUICKTIME_OPERATIONS(SKELBY_DECLARE_QUICKTIME_HANDLER)
#undef SKELBY_DECLARE_QUICKTIME_HANDLER

// Memory ran out inside an operation: GetMoviesError says memFullErr.
void memoryRanOut();

// True between the library's own initialisation and its termination.
bool libraryInitialized();

}  // namespace qtlib
