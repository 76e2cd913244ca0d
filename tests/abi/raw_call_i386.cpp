// The call itself has to be written in assembly: a C++ caller would clean up
// after a callee that left its arguments on the stack and hide the fault.
#include "tests/abi/raw_call_i386.h"

#if !defined(__i386__)
#error "raw_call_i386.cpp is for 32-bit x86 only"
#endif

extern "C" void zarvo_raw_call(const void* entry, const std::uint32_t* cells, std::uint32_t count,
                               zarvo::abi::RawResult* out, std::uint32_t eax, std::uint32_t edx);

// cdecl: entry at 8(%ebp), cells 12, count 16, out 20, eax 24, edx 28. The frame is described
// to the unwinder (CFA = %ebp + 8) so that a callee's exception passes through.
asm(R"(
    .text
    .globl zarvo_raw_call
    .type zarvo_raw_call, @function
zarvo_raw_call:
    .cfi_startproc
    pushl %ebp
    .cfi_def_cfa_offset 8
    .cfi_offset %ebp, -8
    movl %esp, %ebp
    .cfi_def_cfa_register %ebp
    pushl %ebx
    .cfi_offset %ebx, -12
    pushl %esi
    .cfi_offset %esi, -16
    pushl %edi
    .cfi_offset %edi, -20
    subl $4, %esp
    # Pad so that the call instruction sits on a 16-byte boundary, as the
    # System V i386 ABI promises every callee.
    movl 16(%ebp), %ecx
    leal 0(,%ecx,4), %edx
    movl %esp, %eax
    subl %edx, %eax
    andl $15, %eax
    subl %eax, %esp
    movl %esp, -16(%ebp)
    movl 12(%ebp), %esi
    testl %ecx, %ecx
    jz 2f
1:  pushl -4(%esi,%ecx,4)
    decl %ecx
    jnz 1b
2:  movl $0x5EB05EB0, %ebx
    movl $0x5E515E51, %esi
    movl $0x5ED15ED1, %edi
    movl 24(%ebp), %eax
    movl 28(%ebp), %edx
    call *8(%ebp)
    movl 20(%ebp), %ecx
    movl %eax, 0(%ecx)
    movl %edx, 4(%ecx)
    movl %esp, %eax
    subl -16(%ebp), %eax
    movl %eax, 8(%ecx)
    movl %ebx, 24(%ecx)
    movl %esi, 28(%ecx)
    movl %edi, 32(%ecx)
    fnstsw %ax
    movzwl %ax, %eax
    movl %eax, 12(%ecx)
    testl $0x3800, %eax
    jz 3f
    fstpl 16(%ecx)
3:  fninit
    leal -12(%ebp), %esp
    popl %edi
    popl %esi
    popl %ebx
    popl %ebp
    .cfi_def_cfa %esp, 4
    ret
    .cfi_endproc
    .size zarvo_raw_call, .-zarvo_raw_call
)");

namespace zarvo::abi {

RawResult raw_call(const void* entry, const Cells& args) {
  RawResult out{};
  zarvo_raw_call(entry, args.cells().data(), static_cast<std::uint32_t>(args.cells().size()), &out,
                 0, 0);
  return out;
}

RawResult raw_register_call(const void* entry, std::uint32_t eax, std::uint32_t edx) {
  RawResult out{};
  zarvo_raw_call(entry, nullptr, 0, &out, eax, edx);
  return out;
}

}  // namespace zarvo::abi
