// SuspendOtherThreads: without ptrace, every other thread is sent a reserved real-time signal;
// its handler records the registers the thread was interrupted with and parks the thread for
// good. Threads that do not answer in time (the signal blocked, or sleeping uninterruptibly)
// are described from /proc/self/task/N/syscall when they sit in a system call.
#include "crash/ThreadStopper.h"

#include "crash/CrashInternal.h"
#include "crash/SafeIo.h"

#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace tavisk_crash {
namespace {

constexpr int kThreadStopping = 100;  // the stop handler is filling the context
constexpr int kMaxConcurrentFaults = 64;
constexpr int kMaxScanPasses = 16;

struct ConcurrentFault {
    std::atomic<int> tid;  // 0 free, -1 being filled
    const ucontext_t* uc;
};

StoppedThread* s_threads = nullptr;  // kMaxThreads slots, mapped at installation
std::atomic<int> s_threadCount{0};
int s_stopSignal = 0;
volatile int s_ackCount = 0;  // bumped by each parked thread; the stopper waits on it
volatile int s_parkWord = 0;  // parked threads wait on it; it never changes
ConcurrentFault s_concurrentFaults[kMaxConcurrentFaults];
alignas(8) char s_dirents[16384];

struct LinuxDirent64 {
    uint64_t d_ino;
    int64_t d_off;
    unsigned short d_reclen;
    unsigned char d_type;
    char d_name[1];
};

[[noreturn]] void Park()
{
    for (;;) safe::FutexWait(&s_parkWord, 0, 0);
}

uint64_t ThreadPointer()
{
    uint64_t value;
    asm volatile("mov %%fs:0, %0" : "=r"(value));
    return value;
}

void StopSignalHandler(int, siginfo_t*, void* ucv)
{
    if (CrashOwner() == 0) return;  // a stray signal: no crash is in progress
    const int self = safe::Gettid();
    const ucontext_t* uc = static_cast<const ucontext_t*>(ucv);
    for (ConcurrentFault& fault : s_concurrentFaults) {
        if (fault.tid.load(std::memory_order_acquire) == self) {
            uc = fault.uc;  // this thread faulted too: show it at its own fault
            break;
        }
    }
    const int count = s_threadCount.load(std::memory_order_acquire);
    for (int i = 0; i < count; ++i) {
        StoppedThread& slot = s_threads[i];
        if (slot.tid.load(std::memory_order_relaxed) != self) continue;
        int expected = kThreadSignalled;
        if (slot.state.compare_exchange_strong(expected, kThreadStopping, std::memory_order_acq_rel)) {
            ContextFromUcontext(uc, &slot.context);
            slot.teb = ThreadPointer();
            slot.state.store(kThreadStopped, std::memory_order_release);
            __atomic_fetch_add(&s_ackCount, 1, __ATOMIC_SEQ_CST);
            safe::FutexWakeAll(&s_ackCount);
        }
        break;
    }
    Park();
}

bool IsKnown(int tid, int count)
{
    for (int i = 0; i < count; ++i)
        if (s_threads[i].tid.load(std::memory_order_relaxed) == tid) return true;
    return false;
}

// One pass over /proc/self/task: every thread not seen before gets a slot and the stop signal.
// Returns the number of new threads, -1 when the folder cannot be read.
int ScanAndSignal(int self, int pid)
{
    int fd = safe::Open("/proc/self/task", O_RDONLY | O_DIRECTORY);
    if (fd < 0) return -1;
    int added = 0;
    for (;;) {
        long n = syscall(SYS_getdents64, fd, s_dirents, sizeof s_dirents);
        if (n <= 0) break;
        for (long offset = 0; offset < n;) {
            const auto* entry = reinterpret_cast<const LinuxDirent64*>(s_dirents + offset);
            offset += entry->d_reclen;
            const char* name = entry->d_name;
            uint64_t tid = 0;
            const char* cursor = name;
            if (!safe::ParseUnsigned(&cursor, name + 16, 10, &tid) || *cursor != '\0' || tid == 0) continue;
            const int count = s_threadCount.load(std::memory_order_relaxed);
            if (IsKnown(static_cast<int>(tid), count) || count >= kMaxThreads) continue;
            StoppedThread& slot = s_threads[count];
            slot.tid.store(static_cast<int>(tid), std::memory_order_relaxed);
            slot.teb = static_cast<int>(tid) == self ? ThreadPointer() : 0;
            slot.blocksStopSignal = false;
            slot.state.store(static_cast<int>(tid) == self ? kThreadCrashing : kThreadSignalled,
                             std::memory_order_relaxed);
            s_threadCount.store(count + 1, std::memory_order_release);
            ++added;
            if (static_cast<int>(tid) != self && safe::Tgkill(pid, static_cast<int>(tid), s_stopSignal) != 0)
                slot.state.store(kThreadGone, std::memory_order_relaxed);
        }
    }
    safe::Close(fd);
    return added;
}

char* TaskPath(char* out, int tid, const char* leaf)
{
    static const char prefix[] = "/proc/self/task/";
    std::memcpy(out, prefix, sizeof prefix);
    char* end = safe::FormatUnsigned(out + sizeof prefix - 1, static_cast<uint64_t>(tid));
    if (leaf) {
        *end++ = '/';
        size_t len = safe::Length(leaf);
        std::memcpy(end, leaf, len + 1);
        end += len;
    }
    return end;
}

// A thread that did not answer: its stack and instruction pointers while it waits in a system call.
void DescribeFromSyscall(StoppedThread& slot)
{
    char path[64];
    char text[256];
    const int tid = slot.tid.load(std::memory_order_relaxed);
    TaskPath(path, tid, "syscall");
    size_t n = safe::ReadFile(path, text, sizeof text - 1);
    std::memset(&slot.context, 0, sizeof slot.context);
    slot.context.contextFlags = md::kContextAmd64;  // no registers known: readers show zeros
    if (n == 0) {
        TaskPath(path, tid, nullptr);
        int dir = safe::Open(path, O_RDONLY | O_DIRECTORY);
        slot.state.store(dir < 0 ? kThreadGone : kThreadNoContext, std::memory_order_release);
        safe::Close(dir);
        return;
    }
    // "nr arg1 ... arg6 sp pc", or "-1 sp pc" outside a system call, or "running".
    uint64_t numbers[9];
    int count = 0;
    const char* p = text;
    const char* end = text + n;
    while (p < end && count < 9) {
        while (p < end && (*p == ' ' || *p == '\n')) ++p;
        if (p < end && *p == '-') ++p;
        uint64_t value;
        if (!safe::ParseUnsigned(&p, end, 16, &value)) break;
        numbers[count++] = value;
    }
    if (count < 3) {
        slot.state.store(kThreadNoContext, std::memory_order_release);
        return;
    }
    slot.context.contextFlags = md::kContextControl;
    slot.context.rsp = numbers[count - 2];
    slot.context.rip = numbers[count - 1];
    slot.context.segCs = 0x33;
    slot.context.segSs = 0x2b;
    slot.state.store(kThreadFromSyscall, std::memory_order_release);
}

// Whether the thread has the stop signal blocked while it sleeps (from the State and SigBlk
// lines of its status). Such a thread will not answer, and its system call tells where it is.
// A runnable one may be about to answer: a thread that faulted at the same moment has the
// signal blocked only until it has recorded its fault.
bool SleepsWithStopSignalBlocked(int tid)
{
    char path[64];
    char text[4096];
    TaskPath(path, tid, "status");
    const size_t n = safe::ReadFile(path, text, sizeof text);
    bool sleeping = false;
    bool blocked = false;
    for (size_t i = 0; i < n; ++i) {
        if (i > 0 && text[i - 1] != '\n') continue;
        const char* line = text + i;
        const size_t left = n - i;
        if (left > 8 && std::memcmp(line, "State:", 6) == 0) {
            const char* p = line + 6;
            while (p < text + n && (*p == ' ' || *p == '\t')) ++p;
            sleeping = p < text + n && (*p == 'S' || *p == 'D' || *p == 'T' || *p == 't');
        } else if (left > 8 && std::memcmp(line, "SigBlk:", 7) == 0) {
            const char* p = line + 7;
            while (p < text + n && (*p == ' ' || *p == '\t')) ++p;
            uint64_t mask = 0;
            blocked = safe::ParseUnsigned(&p, text + n, 16, &mask) && ((mask >> (s_stopSignal - 1)) & 1);
        }
    }
    return sleeping && blocked;
}

void WaitForThreads()
{
    const uint64_t start = safe::MonotonicNs();
    bool checked = false;
    for (;;) {
        const int seen = __atomic_load_n(&s_ackCount, __ATOMIC_ACQUIRE);
        const int count = s_threadCount.load(std::memory_order_acquire);
        bool waiting = false;
        bool onlyBlockers = true;
        for (int i = 0; i < count; ++i) {
            const int state = s_threads[i].state.load(std::memory_order_acquire);
            if (state == kThreadSignalled || state == kThreadStopping) {
                waiting = true;
                onlyBlockers = onlyBlockers && s_threads[i].blocksStopSignal;
            }
        }
        if (!waiting) return;
        const uint64_t elapsed = safe::MonotonicNs() - start;
        if (elapsed >= kStopTimeoutNs || (checked && onlyBlockers && elapsed >= kStopBlockedTimeoutNs)) break;
        if (!checked && elapsed >= kStopCheckNs) {
            for (int i = 0; i < count; ++i)
                if (s_threads[i].state.load(std::memory_order_acquire) == kThreadSignalled)
                    s_threads[i].blocksStopSignal =
                        SleepsWithStopSignalBlocked(s_threads[i].tid.load(std::memory_order_relaxed));
            checked = true;
            continue;
        }
        const uint64_t next = !checked ? kStopCheckNs : onlyBlockers ? kStopBlockedTimeoutNs : kStopTimeoutNs;
        uint64_t slice = next > elapsed ? next - elapsed : 1000000ull;
        if (slice > 20000000ull) slice = 20000000ull;
        safe::FutexWait(&s_ackCount, seen, slice);
    }
    const int count = s_threadCount.load(std::memory_order_acquire);
    for (int i = 0; i < count; ++i) {
        StoppedThread& slot = s_threads[i];
        int expected = kThreadSignalled;
        if (slot.state.compare_exchange_strong(expected, kThreadFromSyscall, std::memory_order_acq_rel)) {
            DescribeFromSyscall(slot);
        } else if (expected == kThreadStopping) {
            // Half-way through its handler: it finishes within microseconds.
            for (int spin = 0; spin < 1000 && slot.state.load(std::memory_order_acquire) == kThreadStopping; ++spin)
                safe::SleepNs(100000);
            if (slot.state.load(std::memory_order_acquire) == kThreadStopping) {
                std::memset(&slot.context, 0, sizeof slot.context);
                slot.context.contextFlags = md::kContextAmd64;
                slot.state.store(kThreadNoContext, std::memory_order_release);
            }
        }
    }
}

}  // namespace

int StoppedThreadCount()
{
    return s_threadCount.load(std::memory_order_acquire);
}

StoppedThread* StoppedThreadAt(int index)
{
    return &s_threads[index];
}

int StopSignal()
{
    return s_stopSignal;
}

void RegisterConcurrentFault(int tid, const ucontext_t* uc)
{
    for (ConcurrentFault& fault : s_concurrentFaults) {
        int expected = 0;
        if (fault.tid.compare_exchange_strong(expected, -1, std::memory_order_acq_rel)) {
            fault.uc = uc;
            fault.tid.store(tid, std::memory_order_release);
            return;
        }
    }
}

void SuspendOtherThreads()
{
    if (s_threads == nullptr || s_stopSignal == 0) return;
    const int self = safe::Gettid();
    const int pid = safe::Getpid();
    // Threads started while the list is taken are caught by the next pass.
    for (int pass = 0; pass < kMaxScanPasses; ++pass) {
        if (ScanAndSignal(self, pid) <= 0) break;
    }
    // The faulting thread is always listed, even when /proc/self/task could not be read.
    const int count = s_threadCount.load(std::memory_order_relaxed);
    if (!IsKnown(self, count) && count < kMaxThreads) {
        StoppedThread& slot = s_threads[count];
        slot.tid.store(self, std::memory_order_relaxed);
        slot.teb = ThreadPointer();
        slot.blocksStopSignal = false;
        slot.state.store(kThreadCrashing, std::memory_order_relaxed);
        s_threadCount.store(count + 1, std::memory_order_release);
    }
    WaitForThreads();
}

bool PrepareThreadStopper()
{
    if (s_threads == nullptr) {
        void* memory = mmap(nullptr, sizeof(StoppedThread) * kMaxThreads, PROT_READ | PROT_WRITE,
                            MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
        if (memory == MAP_FAILED) return false;
        s_threads = static_cast<StoppedThread*>(memory);
    }
    if (s_stopSignal != 0) return true;
    // A real-time signal that nobody handles yet, from the top of the range down.
    for (int signo = SIGRTMAX - 3; signo >= SIGRTMIN + 2; --signo) {
        struct sigaction current {};
        if (sigaction(signo, nullptr, &current) != 0) continue;
        if (!(current.sa_flags & SA_SIGINFO) && current.sa_handler != SIG_DFL) continue;
        if ((current.sa_flags & SA_SIGINFO) && current.sa_sigaction != nullptr) continue;
        struct sigaction action {};
        action.sa_sigaction = StopSignalHandler;
        action.sa_flags = SA_SIGINFO | SA_RESTART | SA_ONSTACK;
        FillAllButFatal(&action.sa_mask);
        if (sigaction(signo, &action, nullptr) != 0) continue;
        s_stopSignal = signo;
        return true;
    }
    return false;
}

}  // namespace tavisk_crash
