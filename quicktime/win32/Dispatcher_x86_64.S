// The library's dispatcher, x86-64 (Microsoft x64 calling convention).
//
// The program's entry jumps here with the operation's selector in eax and the
// caller's return address on top of the stack. Storing the four register
// arguments into the caller's 32-byte home area lays every argument out as
// one 8-byte slot from [rsp+8] on, as a variadic callee sees them; the
// selector and the address of the first slot go to quickTimeDispatch, and
// its result goes straight back to the caller in rax.
        .text
        .p2align 4
        .globl  theQuickTimeDispatcher
        .def    theQuickTimeDispatcher; .scl 2; .type 32; .endef
        .seh_proc theQuickTimeDispatcher
theQuickTimeDispatcher:
        movq    %rcx, 8(%rsp)
        movq    %rdx, 16(%rsp)
        movq    %r8, 24(%rsp)
        movq    %r9, 32(%rsp)
        // Home area for the call, and rsp back on a 16-byte boundary.
        subq    $40, %rsp
        .seh_stackalloc 40
        .seh_endprologue
        movl    %eax, %ecx
        leaq    48(%rsp), %rdx
        callq   quickTimeDispatch
        addq    $40, %rsp
        ret
        .seh_endproc
