// The guard frame around calls into the host's port object. A host built
// with another compiler fails by raising a structured exception; the guard's
// handler takes every one that reaches it, lets the system unwind the host's
// frames above the guard, and resumes in the guard, which then reports false.
// 32-bit x86 registers the guard on the FS:[0] chain by hand; x86-64 names
// the handler in the guard function's unwind information.
#include <windows.h>

#include "platform/port_guard.h"

extern "C" {
bool zarvo_run_under_guard(zarvo::platform::GuardedBody body, void* context) noexcept;
EXCEPTION_DISPOSITION zarvo_port_guard_handler(EXCEPTION_RECORD* record, void* frame,
                                               CONTEXT* context, void* dispatch) noexcept;
}

#if defined(__i386__)
// The registration record sits 20 bytes below the guard's EBP, under the
// saved EBX, ESI and EDI; zarvo_port_guard_resume(record) re-enters the guard
// from the handler with the registers the guard saved and returns false.
asm(R"(
    .text
    .globl _zarvo_run_under_guard
    .def _zarvo_run_under_guard; .scl 2; .type 32; .endef
_zarvo_run_under_guard:
    .cfi_startproc
    pushl %ebp
    .cfi_def_cfa_offset 8
    .cfi_offset %ebp, -8
    movl %esp, %ebp
    .cfi_def_cfa_register %ebp
    pushl %ebx
    pushl %esi
    pushl %edi
    .cfi_offset %ebx, -12
    .cfi_offset %esi, -16
    .cfi_offset %edi, -20
    pushl $_zarvo_port_guard_handler
    pushl %fs:0
    movl %esp, %fs:0
    pushl 12(%ebp)
    call *8(%ebp)
    addl $4, %esp
    movl $1, %eax
.Lzarvo_guard_leave:
    movl -20(%ebp), %ecx
    movl %ecx, %fs:0
    leal -12(%ebp), %esp
    popl %edi
    popl %esi
    popl %ebx
    popl %ebp
    ret
    .cfi_endproc

    .globl _zarvo_port_guard_resume
    .def _zarvo_port_guard_resume; .scl 2; .type 32; .endef
_zarvo_port_guard_resume:
    movl 4(%esp), %ecx
    leal 20(%ecx), %ebp
    movl %ecx, %esp
    xorl %eax, %eax
    jmp .Lzarvo_guard_leave
)");

extern "C" [[noreturn]] void zarvo_port_guard_resume(void* record);

EXCEPTION_DISPOSITION zarvo_port_guard_handler(EXCEPTION_RECORD* record, void* frame, CONTEXT*,
                                               void*) noexcept {
  if ((record->ExceptionFlags & (EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND)) != 0) {
    return ExceptionContinueSearch;
  }
  // Runs the host's unwind handlers above the guard and takes them off the chain.
  RtlUnwind(frame, nullptr, record, nullptr);
  zarvo_port_guard_resume(frame);
}

#elif defined(__x86_64__)
// The unwind lands on zarvo_port_guard_resume with RSP as after the prologue,
// the callee-saved registers as at the call, and EAX 0.
asm(R"(
    .text
    .globl zarvo_run_under_guard
    .def zarvo_run_under_guard; .scl 2; .type 32; .endef
    .seh_proc zarvo_run_under_guard
zarvo_run_under_guard:
    pushq %rbp
    .seh_pushreg %rbp
    subq $32, %rsp
    .seh_stackalloc 32
    .seh_endprologue
    .seh_handler zarvo_port_guard_handler, @except
    movq %rcx, %rax
    movq %rdx, %rcx
    callq *%rax
    movl $1, %eax
    .globl zarvo_port_guard_resume
zarvo_port_guard_resume:
    addq $32, %rsp
    popq %rbp
    retq
    .seh_endproc
)");

extern "C" void zarvo_port_guard_resume();

EXCEPTION_DISPOSITION zarvo_port_guard_handler(EXCEPTION_RECORD* record, void* frame, CONTEXT*,
                                               void* dispatch) noexcept {
  if ((record->ExceptionFlags & (EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND)) != 0) {
    return ExceptionContinueSearch;
  }
  auto* const dispatcher = static_cast<DISPATCHER_CONTEXT*>(dispatch);
  RtlUnwindEx(frame, reinterpret_cast<void*>(&zarvo_port_guard_resume), record, nullptr,
              dispatcher->ContextRecord, dispatcher->HistoryTable);
  __builtin_unreachable();
}

#else
#error "the port guard knows 32-bit x86 and x86-64 Windows only"
#endif

namespace zarvo::platform {

bool RunUnderStructuredGuard(GuardedBody body, void* context) noexcept {
  return zarvo_run_under_guard(body, context);
}

}  // namespace zarvo::platform
