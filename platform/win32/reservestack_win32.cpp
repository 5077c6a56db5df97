#include "platform/win32/reservestack_win32.h"

#include <atomic>
#include <cstddef>

namespace {

constexpr size_t kReserveBytes = 512 * 1024;
alignas(16) char reserve_stack[kReserveBytes];
std::atomic<bool> reserve_busy{false};

} // namespace

// tap_call_on_stack(fn, arg, top): calls fn(arg) with the stack pointer at top (16-byte
// aligned) and comes back on the caller's stack.
extern "C" void TapCallOnStack(void (*fn)(void*), void* arg,
                               void* top) __asm__("tap_call_on_stack");

#if defined(__x86_64__)
// Windows x64 convention: fn in rcx, arg in rdx, top in r8; the callee gets 32 bytes of
// home space. The unwind data (frame in rbp) lets a stack walk go on to the caller's stack.
__asm__(".text\n"
        ".globl tap_call_on_stack\n"
        ".def tap_call_on_stack; .scl 2; .type 32; .endef\n"
        ".seh_proc tap_call_on_stack\n"
        "tap_call_on_stack:\n"
        "  pushq %rbp\n"
        "  .seh_pushreg %rbp\n"
        "  movq %rsp, %rbp\n"
        "  .seh_setframe %rbp, 0\n"
        "  .seh_endprologue\n"
        "  movq %r8, %rsp\n"
        "  subq $32, %rsp\n"
        "  movq %rcx, %rax\n"
        "  movq %rdx, %rcx\n"
        "  callq *%rax\n"
        "  movq %rbp, %rsp\n"
        "  popq %rbp\n"
        "  retq\n"
        ".seh_endproc\n");
#elif defined(__i386__)
// cdecl: the arguments on the stack; arg is passed on the new one.
__asm__(".text\n"
        ".globl tap_call_on_stack\n"
        "tap_call_on_stack:\n"
        "  pushl %ebp\n"
        "  movl %esp, %ebp\n"
        "  movl 8(%ebp), %eax\n"
        "  movl 12(%ebp), %ecx\n"
        "  movl 16(%ebp), %esp\n"
        "  subl $12, %esp\n"
        "  pushl %ecx\n"
        "  call *%eax\n"
        "  movl %ebp, %esp\n"
        "  popl %ebp\n"
        "  ret\n");
#else
#error "no stack switch for this processor"
#endif

void CallOnReserveStack(void (*fn)(void*), void* arg) {
  if (reserve_busy.exchange(true)) {
    fn(arg);
    return;
  }
  TapCallOnStack(fn, arg, reserve_stack + kReserveBytes);
  reserve_busy = false;
}
