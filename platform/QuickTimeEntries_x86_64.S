// The program's QuickTime entries, x86-64 (Microsoft x64 calling convention).
//
// Every operation is the same three instructions: load its 32-bit selector
// into eax (rax; not an argument register in this convention, so the caller's
// arguments stay exactly as passed) and jump to the common tail, which runs
// the pre-call hook when one is set and then jumps (never calls) to whatever
// dispatcherEntry holds. The dispatcher therefore sees the caller's return
// address on top of the stack and the caller's arguments in rcx, rdx, r8, r9
// and above the 32-byte home area, and returns straight to the caller.
#include "QuickTimeOperations.h"

        .text

// The pre-call hook is an ordinary C function: it may clobber the argument
// registers and rax, so they are kept around the call. The four register
// arguments go into the caller's home area (which belongs to the callee, that
// is to us and then to the dispatcher); rax is pushed, which with the 32-byte
// home area for the hook keeps rsp 16-byte aligned at the call.
        .p2align 4
        .def    quickTimeEntryTail; .scl 3; .type 32; .endef
quickTimeEntryTail:
        movq    preCallHook(%rip), %r10
        testq   %r10, %r10
        jnz     1f
        jmpq    *dispatcherEntry(%rip)
1:
        movq    %rcx, 8(%rsp)
        movq    %rdx, 16(%rsp)
        movq    %r8, 24(%rsp)
        movq    %r9, 32(%rsp)
        pushq   %rax
        subq    $32, %rsp
        callq   *%r10
        addq    $32, %rsp
        popq    %rax
        movq    8(%rsp), %rcx
        movq    16(%rsp), %rdx
        movq    24(%rsp), %r8
        movq    32(%rsp), %r9
        jmpq    *dispatcherEntry(%rip)

// The target of every entry while no library is bound: the selector tells
// notInitializedResult which kind of failure to answer. Jumping keeps the
// caller's return address on top, so notInitializedResult returns straight
// to the caller.
        .p2align 4
        .globl  notInitializedEntry
        .def    notInitializedEntry; .scl 2; .type 32; .endef
notInitializedEntry:
        movl    %eax, %ecx
        jmp     notInitializedResult

#define QUICKTIME_ENTRY(group, routine, name, kind, result, params) \
        .p2align 4; \
        .globl name; \
        .def name; .scl 2; .type 32; .endef; \
name:   movl $(group * 65536 + routine), %eax; \
        jmp quickTimeEntryTail;

QUICKTIME_OPERATIONS(QUICKTIME_ENTRY)
