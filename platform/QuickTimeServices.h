// The QuickTime operations as the program calls them.
//
// Each one is a tiny entry (QuickTimeEntries_<arch>.S) that hands its
// selector and the caller's untouched arguments to the QuickTime library's
// dispatcher, through the loader in QuickTimeLibrary.h. The list comes from
// the table the library's dispatcher is built from, so the two cannot drift.
// Before InitializeQTML has succeeded every operation answers
// errQtNotInitialized (-2095), or null / 0 when its result is not an error
// code.
#pragma once

#include <cstdint>

#include "QuickTimeOperations.h"
#include "QuickTimeTypes.h"

extern "C" {
#define SKELBY_DECLARE_QUICKTIME_OPERATION(group, routine, name, kind, result, params) result name params;
QUICKTIME_OPERATIONS(SKELBY_DECLARE_QUICKTIME_OPERATION)
#undef SKELBY_DECLARE_QUICKTIME_OPERATION
}
