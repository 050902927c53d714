// What the test QuickTime libraries record, as the tests read it.
//
// The stand-in libraries carry the real dispatcher, so every call arrives as
// (selector, argument slots) and is written down here. Their own
// initialisation and termination also count into the process environment
// (kInitializationsVariable, kTerminationsVariable), which outlives the
// library when the loader unloads it.
#pragma once

#include <cstdint>

constexpr int kRecordedSlots = 16;  // more than any operation takes (CompressSequenceBegin: 14)
constexpr int kRecordedCallCapacity = 4096;

struct RecordedCall {
  uint32_t selector;
  uintptr_t slots[kRecordedSlots];
};

constexpr const char kInitializationsVariable[] = "SKELBY_TESTQT_INITIALIZATIONS";
constexpr const char kTerminationsVariable[] = "SKELBY_TESTQT_TERMINATIONS";
// What the failing library's own initialisation answers.
constexpr int16_t kFailingInitializationResult = -2468;

// The exports the tests look up, by these names.
typedef int32_t (*RecordedCallCountFunction)();
typedef const RecordedCall* (*RecordedCallFunction)(int32_t index);
typedef void (*SetNextResultFunction)(intptr_t result);  // also for testSetLibraryResult
typedef void (*ClearRecordsFunction)();                  // also forgets misaligned dispatches
// Calls whose stack the dispatcher left misaligned for quickTimeDispatch.
typedef int32_t (*MisalignedDispatchCountFunction)();
