// The threads of the process as the stopper found them at the crash.
#pragma once

#include "crash/MinidumpFormat.h"

#include <atomic>
#include <cstdint>
#include <ucontext.h>

namespace tavisk_crash {

enum ThreadState : int {
    kThreadSignalled = 1,  // asked to stop, no answer yet
    kThreadStopped,        // parked in the stop handler; context holds its registers
    kThreadFromSyscall,    // did not answer; stack and instruction pointer from /proc/self/task/N/syscall
    kThreadNoContext,      // did not answer and nothing could be read
    kThreadGone,           // exited before it could be stopped
    kThreadCrashing,       // the thread that writes the dump
};

struct StoppedThread {
    std::atomic<int> tid;
    std::atomic<int> state;
    uint64_t teb;           // the thread pointer (fs base)
    bool blocksStopSignal;  // found asleep with the stop signal blocked while the stopper waited
    md::ContextAmd64 context;
};

constexpr int kMaxThreads = 4096;
// How long the stopper waits for all threads to park; after kStopCheckNs it looks which of the
// late ones sleep with the stop signal blocked, and waits for those only until
// kStopBlockedTimeoutNs.
constexpr uint64_t kStopTimeoutNs = 1000000000ull;
constexpr uint64_t kStopCheckNs = 5000000ull;
constexpr uint64_t kStopBlockedTimeoutNs = 50000000ull;

int StoppedThreadCount();
StoppedThread* StoppedThreadAt(int index);

// A thread that faults while another one is writing the dump leaves its fault registers
// here, so that the dump shows it at its own fault, and then waits to be stopped.
void RegisterConcurrentFault(int tid, const ucontext_t* uc);

// The real-time signal reserved for stopping threads (chosen at installation).
int StopSignal();

}  // namespace tavisk_crash
