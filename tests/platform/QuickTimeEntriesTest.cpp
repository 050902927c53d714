// The call path: every operation's entry hands its selector and the caller's
// arguments to the library's dispatcher unchanged, gives the result back
// unchanged, keeps them across the pre-call hook, and leaves the stack as it
// found it.
#include <gtest/gtest.h>

#include "OperationCalls.h"
#include "QuickTimeTestSupport.h"
#include "platform/QuickTimeLibrary.h"
#include "platform/QuickTimeServices.h"

// A pre-call hook that wrecks every register the entries must keep (and its
// own home area) and notes whether the stack was aligned for the call; and a
// loop that calls an entry many times with arguments on the stack, from a
// 16-byte aligned stack as a compiler's call would be, and reports how far
// the stack pointer moved across the calls (0 when never).
//
// The test program is linked with notInitializedResult wrapped: every call
// that notInitializedEntry makes to it passes first through a stand-in that
// counts the calls and notes whether the stack was aligned for them.
extern "C" {
volatile long hookCalls = 0;
volatile long misalignedHookCalls = 0;
volatile long unboundCalls = 0;
volatile long misalignedUnboundCalls = 0;
void clobberingHook();
intptr_t stackDriftOfCalls(QuickTimeEntryPoint entry, uint32_t count);
}

#if defined(__x86_64__)
asm(R"(
        .text
        .globl  __wrap_notInitializedResult
__wrap_notInitializedResult:
        movq    %rsp, %rax
        andl    $15, %eax
        cmpl    $8, %eax
        je      1f
        lock incl misalignedUnboundCalls(%rip)
1:      lock incl unboundCalls(%rip)
        jmp     __real_notInitializedResult

        .globl  clobberingHook
clobberingHook:
        movq    %rsp, %rax
        andl    $15, %eax
        cmpl    $8, %eax
        je      1f
        lock incl misalignedHookCalls(%rip)
1:      lock incl hookCalls(%rip)
        movq    $-1, %rax
        movq    $-1, %rcx
        movq    $-1, %rdx
        movq    $-1, %r8
        movq    $-1, %r9
        movq    $-1, %r10
        movq    $-1, %r11
        movq    %rax, 8(%rsp)
        movq    %rax, 16(%rsp)
        movq    %rax, 24(%rsp)
        movq    %rax, 32(%rsp)
        ret

        .globl  stackDriftOfCalls
stackDriftOfCalls:
        pushq   %rbx
        pushq   %rsi
        pushq   %rdi
        subq    $96, %rsp
        movq    %rcx, %rbx
        movl    %edx, %esi
        movq    %rsp, %rdi
1:      movl    $1, %ecx
        movl    $2, %edx
        movl    $3, %r8d
        movl    $4, %r9d
        movq    $5, 32(%rsp)
        movq    $6, 40(%rsp)
        callq   *%rbx
        cmpq    %rdi, %rsp
        jne     2f
        decl    %esi
        jnz     1b
        xorl    %eax, %eax
        jmp     3f
2:      movq    %rsp, %rax
        subq    %rdi, %rax
        movq    %rdi, %rsp
3:      addq    $96, %rsp
        popq    %rdi
        popq    %rsi
        popq    %rbx
        ret
)");
#elif defined(__i386__)
asm(R"(
        .text
        .globl  ___wrap_notInitializedResult
___wrap_notInitializedResult:
        movl    %esp, %eax
        andl    $15, %eax
        cmpl    $12, %eax
        je      1f
        lock incl _misalignedUnboundCalls
1:      lock incl _unboundCalls
        jmp     ___real_notInitializedResult

        .globl  _clobberingHook
_clobberingHook:
        movl    %esp, %eax
        andl    $15, %eax
        cmpl    $12, %eax
        je      1f
        lock incl _misalignedHookCalls
1:      lock incl _hookCalls
        movl    $-1, %eax
        movl    $-1, %ecx
        movl    $-1, %edx
        ret

        .globl  _stackDriftOfCalls
_stackDriftOfCalls:
        pushl   %ebp
        movl    %esp, %ebp
        pushl   %ebx
        pushl   %esi
        pushl   %edi
        movl    8(%ebp), %ebx
        movl    12(%ebp), %esi
        subl    $32, %esp
        andl    $-16, %esp
        movl    %esp, %edi
1:      movl    $1, 0(%esp)
        movl    $2, 4(%esp)
        movl    $3, 8(%esp)
        movl    $4, 12(%esp)
        movl    $5, 16(%esp)
        movl    $6, 20(%esp)
        call    *%ebx
        cmpl    %edi, %esp
        jne     2f
        decl    %esi
        jnz     1b
        xorl    %eax, %eax
        jmp     3f
2:      movl    %esp, %eax
        subl    %edi, %eax
3:      leal    -12(%ebp), %esp
        popl    %edi
        popl    %esi
        popl    %ebx
        popl    %ebp
        ret
)");
#endif

namespace {

// Binds the loader to the recording library for each test: loaded first,
// so the loader takes it as the library already in the process.
class CallPath : public ::testing::Test {
 protected:
  void SetUp() override {
    held_ = LoadLibraryA(testLibraryPath("recording").c_str());
    ASSERT_NE(held_, nullptr);
    ASSERT_EQ(InitializeQTML(0), noErr);
    ASSERT_EQ(libraryHandle, held_);
    recording_ = RecordingLibrary(held_);
    ASSERT_TRUE(recording_.ok());
  }
  void TearDown() override {
    preCallHook = nullptr;
    TerminateQTML();
    if (held_) FreeLibrary(held_);
  }
  HMODULE held_ = nullptr;
  RecordingLibrary recording_{nullptr};
};

}  // namespace

TEST_F(CallPath, EveryOperationArrivesAndReturnsUnchanged) {
  EXPECT_EQ(checkEveryOperationRoundTrip(recording_), "");
}

TEST_F(CallPath, ArgumentsSurviveThePreCallHook) {
  hookCalls = 0;
  misalignedHookCalls = 0;
  preCallHook = clobberingHook;
  EXPECT_EQ(checkEveryOperationRoundTrip(recording_), "");
  preCallHook = nullptr;
  long operations = 0;
  forEachOperation([&](auto, uint32_t, QuickTimeResultKind, const char*) { ++operations; });
  EXPECT_EQ(hookCalls, operations);
  EXPECT_EQ(misalignedHookCalls, 0) << "the hook was called with a misaligned stack";
}

TEST_F(CallPath, AMillionCallsLeaveTheStackBalanced) {
  const uint32_t calls = 1000000;
  recording_.clear();
  recording_.setNextResult(0);
  EXPECT_EQ(stackDriftOfCalls(reinterpret_cast<QuickTimeEntryPoint>(&InsertMediaIntoTrack), calls), 0);
  EXPECT_EQ(recording_.count(), int32_t(calls));
  const RecordedCall* last = recording_.call(0);
  ASSERT_NE(last, nullptr);
  EXPECT_EQ(last->selector, 0x00020183u);
  EXPECT_EQ(last->slots[4], 5u) << "the fifth argument is on the stack";
  EXPECT_EQ(recording_.misalignedDispatches(), 0) << "the dispatcher misaligned the stack for its call";

  // The same through the hook's path.
  recording_.clear();
  hookCalls = 0;
  misalignedHookCalls = 0;
  preCallHook = clobberingHook;
  EXPECT_EQ(stackDriftOfCalls(reinterpret_cast<QuickTimeEntryPoint>(&AddMediaSample), calls), 0);
  preCallHook = nullptr;
  EXPECT_EQ(hookCalls, long(calls));
  EXPECT_EQ(misalignedHookCalls, 0) << "the hook was called with a misaligned stack";
  EXPECT_EQ(recording_.misalignedDispatches(), 0) << "the dispatcher misaligned the stack for its call";
}

// While unbound, through notInitializedEntry, the stack stays balanced too,
// and notInitializedResult is called on a 16-byte aligned stack, as the
// compiler that built it assumes.
TEST(UnboundCallPath, AMillionCallsLeaveTheStackBalancedAndAligned) {
  const QuickTimeEntryPoint saved = dispatcherEntry;
  const QuickTimePreCallHook savedHook = preCallHook;
  dispatcherEntry = notInitializedEntry;
  preCallHook = nullptr;
  unboundCalls = misalignedUnboundCalls = 0;
  EXPECT_EQ(stackDriftOfCalls(reinterpret_cast<QuickTimeEntryPoint>(&GetMoviesError), 1000000), 0);
  EXPECT_EQ(unboundCalls, 1000000) << "the calls did not reach notInitializedResult's stand-in";
  EXPECT_EQ(misalignedUnboundCalls, 0) << "notInitializedResult was called with a misaligned stack";
  EXPECT_EQ(GetMoviesError(), errQtNotInitialized);
  dispatcherEntry = saved;
  preCallHook = savedHook;
}
