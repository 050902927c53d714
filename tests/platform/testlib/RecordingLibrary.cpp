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

// The dispatcher calls quickTimeDispatch; here that is a front that notes
// whether the stack was 16-byte aligned at the call (the return address then
// sits at 12 mod 16 on i686, 8 mod 16 on x86-64) and jumps on to
// recordDispatch, which so sees exactly the call the dispatcher made.
extern "C" {
volatile long misalignedDispatches = 0;
intptr_t recordDispatch(uint32_t selector, const uintptr_t* slots);
}

#if defined(__x86_64__)
asm(R"(
        .text
        .globl  quickTimeDispatch
quickTimeDispatch:
        movq    %rsp, %rax
        andl    $15, %eax
        cmpl    $8, %eax
        je      1f
        lock incl misalignedDispatches(%rip)
1:      jmp     recordDispatch
)");
#elif defined(__i386__)
asm(R"(
        .text
        .globl  _quickTimeDispatch
_quickTimeDispatch:
        movl    %esp, %eax
        andl    $15, %eax
        cmpl    $12, %eax
        je      1f
        lock incl _misalignedDispatches
1:      jmp     _recordDispatch
)");
#endif

extern "C" intptr_t recordDispatch(uint32_t selector, const uintptr_t* slots) {
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
extern "C" void testClearRecords() {
  recordedCount = 0;
  misalignedDispatches = 0;
}
extern "C" int32_t testMisalignedDispatchCount() { return int32_t(misalignedDispatches); }
