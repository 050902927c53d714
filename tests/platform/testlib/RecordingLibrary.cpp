// A stand-in QuickTime library that records every call and answers a result
// the test chose: one for its own initialisation and termination, one for
// every other operation. Built four times: recording (all exports), failing (its
// own initialisation fails with kFailingInitializationResult), and two that
// lack some of the three exports the loader binds.
#include <windows.h>

#include <cstdlib>
#include <cstring>

#include "RecordingLibrary.h"

#ifndef TESTQT_INITIALIZATION_RESULT
#define TESTQT_INITIALIZATION_RESULT 0
#endif

namespace {

constexpr uint32_t kInitializeSelector = 0x001D0008;
constexpr uint32_t kTerminateSelector = 0x001D0009;

RecordedCall recorded[kRecordedCallCapacity];
int32_t recordedCount = 0;
intptr_t nextResult = 0;
intptr_t libraryResult = TESTQT_INITIALIZATION_RESULT;

void countInEnvironment(const char* variable) {
  char text[32];
  const DWORD length = GetEnvironmentVariableA(variable, text, sizeof text);
  const long count = length > 0 && length < sizeof text ? std::strtol(text, nullptr, 10) : 0;
  wsprintfA(text, "%ld", count + 1);
  SetEnvironmentVariableA(variable, text);
}

}  // namespace

extern "C" intptr_t quickTimeDispatch(uint32_t selector, const uintptr_t* slots) {
  // Beyond the capacity only the count goes on (for long runs of calls).
  if (recordedCount < kRecordedCallCapacity) {
    RecordedCall& call = recorded[recordedCount];
    call.selector = selector;
    std::memcpy(call.slots, slots, sizeof call.slots);
  }
  ++recordedCount;
  if (selector == kInitializeSelector) {
    countInEnvironment(kInitializationsVariable);
    return libraryResult;
  }
  if (selector == kTerminateSelector) {
    countInEnvironment(kTerminationsVariable);
    return libraryResult;
  }
  return nextResult;
}

extern "C" int32_t testCallComponent(void*, void*) { return 0; }
extern "C" int32_t testCallComponentFunctionWithStorage(void*, void*, void*) { return 0; }

extern "C" int32_t testRecordedCallCount() { return recordedCount; }
extern "C" const RecordedCall* testRecordedCall(int32_t index) {
  return index >= 0 && index < recordedCount && index < kRecordedCallCapacity ? &recorded[index] : nullptr;
}
extern "C" void testSetNextResult(intptr_t result) { nextResult = result; }
extern "C" void testSetLibraryResult(intptr_t result) { libraryResult = result; }
extern "C" void testClearRecords() { recordedCount = 0; }
