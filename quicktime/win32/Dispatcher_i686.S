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
        // Keeps a caller's 16-byte alignment at the call.
        subl    $8, %esp
        pushl   %edx
        pushl   %eax
        call    _quickTimeDispatch
        addl    $16, %esp
        ret
