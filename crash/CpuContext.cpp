// A thread's registers from the ucontext the kernel hands to a signal handler (x86-64).
#include "crash/CrashInternal.h"

#include <cstring>

namespace tavisk_crash {

void ContextFromUcontext(const ucontext_t* uc, md::ContextAmd64* out)
{
    std::memset(out, 0, sizeof *out);
    const greg_t* g = uc->uc_mcontext.gregs;
    out->contextFlags = md::kContextControl | md::kContextInteger | md::kContextSegments;
    out->rax = static_cast<uint64_t>(g[REG_RAX]);
    out->rcx = static_cast<uint64_t>(g[REG_RCX]);
    out->rdx = static_cast<uint64_t>(g[REG_RDX]);
    out->rbx = static_cast<uint64_t>(g[REG_RBX]);
    out->rsp = static_cast<uint64_t>(g[REG_RSP]);
    out->rbp = static_cast<uint64_t>(g[REG_RBP]);
    out->rsi = static_cast<uint64_t>(g[REG_RSI]);
    out->rdi = static_cast<uint64_t>(g[REG_RDI]);
    out->r8 = static_cast<uint64_t>(g[REG_R8]);
    out->r9 = static_cast<uint64_t>(g[REG_R9]);
    out->r10 = static_cast<uint64_t>(g[REG_R10]);
    out->r11 = static_cast<uint64_t>(g[REG_R11]);
    out->r12 = static_cast<uint64_t>(g[REG_R12]);
    out->r13 = static_cast<uint64_t>(g[REG_R13]);
    out->r14 = static_cast<uint64_t>(g[REG_R14]);
    out->r15 = static_cast<uint64_t>(g[REG_R15]);
    out->rip = static_cast<uint64_t>(g[REG_RIP]);
    out->eFlags = static_cast<uint32_t>(g[REG_EFL]);
    // cs, gs, fs and (since Linux 4.8) ss share one word.
    const uint64_t segments = static_cast<uint64_t>(g[REG_CSGSFS]);
    out->segCs = static_cast<uint16_t>(segments & 0xffff);
    out->segGs = static_cast<uint16_t>((segments >> 16) & 0xffff);
    out->segFs = static_cast<uint16_t>((segments >> 32) & 0xffff);
    out->segSs = static_cast<uint16_t>((segments >> 48) & 0xffff);
    if (out->segSs == 0) out->segSs = 0x2b;
    if (uc->uc_mcontext.fpregs != nullptr) {
        static_assert(sizeof(*uc->uc_mcontext.fpregs) == sizeof out->fltSave);
        std::memcpy(out->fltSave, uc->uc_mcontext.fpregs, sizeof out->fltSave);
        out->mxCsr = uc->uc_mcontext.fpregs->mxcsr;
        out->contextFlags |= md::kContextFloatingPoint;
    }
}

}  // namespace tavisk_crash
