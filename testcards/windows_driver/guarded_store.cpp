// kvdStoreGuarded (user_buffer.h): one 4-byte store inside an exception scope.
//
// The scope record has the layout __C_specific_handler reads from a
// function's handler data: a count, then for each scope the image-relative
// start and end of the guarded code, the filter (1: EXCEPTION_EXECUTE_HANDLER,
// take every exception) and where to resume. The routine has no prologue, so
// its frame at the resume point is the caller's stack as on entry and `ret`
// returns to the caller.
#include "user_buffer.h"

asm(R"(
    .text
    .globl kvdStoreGuarded
    .def kvdStoreGuarded; .scl 2; .type 32; .endef
    .seh_proc kvdStoreGuarded
kvdStoreGuarded:
    .seh_endprologue
.LkvdStoreBegin:
    movl %edx, (%rcx)
.LkvdStoreEnd:
    movl $1, %eax
    ret
.LkvdStoreFaulted:
    xorl %eax, %eax
    ret
    .seh_handler __C_specific_handler, @except
    .seh_handlerdata
    .long 1
    .rva .LkvdStoreBegin, .LkvdStoreEnd
    .long 1
    .rva .LkvdStoreFaulted
    .text
    .seh_endproc
)");
