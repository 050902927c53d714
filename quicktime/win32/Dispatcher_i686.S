// The library's dispatcher, i686 (cdecl).
//
// The program's entry jumps here with the operation's selector in eax, the
// caller's return address at [esp] and its arguments as 4-byte slots from
// [esp+4] on. The selector and the address of the first slot go to
// quickTimeDispatch; its result goes straight back to the caller in eax, and
// the caller removes its own arguments.
        .text
        .p2align 4
        .globl  _theQuickTimeDispatcher
        .def    _theQuickTimeDispatcher; .scl 2; .type 32; .endef
_theQuickTimeDispatcher:
        leal    4(%esp), %edx
        // A caller whose stack was 16-byte aligned at its call left esp at
        // 12 mod 16 here (its return address on top); 4 bytes of padding and
        // the two arguments bring it back to 0 mod 16 at this call, as a
        // callee built for SSE expects.
        subl    $4, %esp
        pushl   %edx
        pushl   %eax
        call    _quickTimeDispatch
        addl    $12, %esp
        ret
