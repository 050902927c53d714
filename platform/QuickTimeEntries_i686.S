// The program's QuickTime entries, i686 (cdecl).
//
// Every operation is the same two instructions: load its 32-bit selector into
// eax and jump to the common tail, which runs the pre-call hook when one is
// set and then jumps (never calls) to whatever dispatcherEntry holds. The
// dispatcher finds the caller's return address at [esp] and the arguments at
// [esp+4], [esp+8], ..., returns straight to the caller, and the caller
// removes its own arguments.
#include "QuickTimeOperations.h"

        .text

// The hook is an ordinary C function: it may clobber eax, ecx and edx; the
// arguments on the stack are the caller's and stay untouched. Only the
// selector needs keeping. A caller whose stack was 16-byte aligned at its
// call left esp at 12 mod 16 here; the saved selector and 8 more bytes bring
// it back to 0 mod 16 at the hook's call.
        .p2align 4
        .def    quickTimeEntryTail; .scl 3; .type 32; .endef
quickTimeEntryTail:
        movl    _preCallHook, %ecx
        testl   %ecx, %ecx
        jnz     1f
        jmp     *_dispatcherEntry
1:
        pushl   %eax
        subl    $8, %esp
        call    *%ecx
        addl    $8, %esp
        popl    %eax
        jmp     *_dispatcherEntry

// The target of every entry while no library is bound: the selector tells
// notInitializedResult which kind of failure to answer. Its argument and 8
// bytes of padding keep the caller's 16-byte alignment at the call, as in
// the tail above.
        .p2align 4
        .globl  _notInitializedEntry
        .def    _notInitializedEntry; .scl 2; .type 32; .endef
_notInitializedEntry:
        subl    $8, %esp
        pushl   %eax
        call    _notInitializedResult
        addl    $12, %esp
        ret

// C names carry a leading underscore on this platform.
#define QUICKTIME_ENTRY(group, routine, name, kind, result, params) \
        .p2align 4; \
        .globl _##name; \
        .def _##name; .scl 2; .type 32; .endef; \
_##name: movl $(group * 65536 + routine), %eax; \
        jmp quickTimeEntryTail;

QUICKTIME_OPERATIONS(QUICKTIME_ENTRY)
