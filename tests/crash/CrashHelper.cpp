// A small program that installs the crash handler and then crashes in the way its first
// argument names. The crash tests and the benchmark run it and read the dump it leaves.
//
//   crash_helper MODE [--threads N] [--reporter PATH] [--app TEXT] [--no-install] [--stamp]
//
// It also replaces malloc: a call while a crash is being handled ends the process with
// exit code 99, so every crash test checks that the handler allocates nothing.
#include "crash/CrashHandler.h"
#include "crash/CrashInternal.h"
#include "crash/ThreadStopper.h"

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <pthread.h>
#include <map>
#include <string>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>
#include <vector>

// Under AddressSanitizer the sanitizer owns malloc: the check is left out there.
#if !defined(__SANITIZE_ADDRESS__)
extern "C" void* __libc_malloc(size_t);
extern "C" void* __libc_calloc(size_t, size_t);
extern "C" void* __libc_realloc(void*, size_t);

namespace {

void FailIfCrashing()
{
    if (tavisk_crash::CrashOwner() != 0) {
        static const char message[] = "crash_helper: memory allocated while handling the crash\n";
        (void)!write(2, message, sizeof message - 1);
        _exit(99);
    }
}

}  // namespace

extern "C" void* malloc(size_t size)
{
    FailIfCrashing();
    return __libc_malloc(size);
}

extern "C" void* calloc(size_t count, size_t size)
{
    FailIfCrashing();
    return __libc_calloc(count, size);
}

extern "C" void* realloc(void* p, size_t size)
{
    FailIfCrashing();
    return __libc_realloc(p, size);
}
#endif

namespace {

// The faults must reach the processor even in a sanitizer build.
#define CRASHES __attribute__((noinline, no_sanitize("address", "undefined")))

int* volatile g_null = nullptr;
volatile int g_zero = 0;
volatile int g_sink = 0;
std::atomic<int> g_started{0};
std::atomic<bool> g_go{false};
std::atomic<int> g_twinsReady{0};
bool g_stamp = false;

// Marks the moment just before the fault, for the benchmark (CLOCK_MONOTONIC, nanoseconds).
void Stamp()
{
    if (!g_stamp) return;
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    char line[64];
    int n = snprintf(line, sizeof line, "T0 %lld\n", static_cast<long long>(ts.tv_sec) * 1000000000ll + ts.tv_nsec);
    (void)!write(1, line, static_cast<size_t>(n));
}

CRASHES void CrashOnMainThread()
{
    Stamp();
    *g_null = 42;
}

CRASHES void FaultingWorker()
{
    // Let the main thread reach its join, where the dump is expected to show it.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    Stamp();
    *g_null = 7;
}

// Blocks every signal, or only the one the handler stops the other threads with.
void BlockSignals(bool every)
{
    sigset_t set;
    sigemptyset(&set);
    if (every)
        sigfillset(&set);
    else
        sigaddset(&set, tavisk_crash::StopSignal());
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

// The twins keep the stop signal blocked, so that neither can be stopped before it reaches
// its fault: the second one always faults while the first is writing the dump.
void AwaitTheOtherTwin()
{
    BlockSignals(false);
    ++g_twinsReady;
    while (!g_go.load())
        ;
}

CRASHES void FaultingTwinA()
{
    AwaitTheOtherTwin();
    *g_null = 1;
}

CRASHES void FaultingTwinB()
{
    AwaitTheOtherTwin();
    *g_null = 2;
}

volatile bool g_keepRecursing = true;

CRASHES int RecurseForever(int depth)
{
    volatile char frame[512];
    frame[0] = static_cast<char>(depth);
    if (!g_keepRecursing) return frame[0];
    return RecurseForever(depth + 1) + frame[0];
}

__attribute__((noinline)) void AbortOnMainThread()
{
    abort();
}

CRASHES void DivideByZero()
{
    g_sink = 10 / g_zero;
}

CRASHES void IllegalInstruction()
{
    __builtin_trap();
}

CRASHES void BusError()
{
    char path[] = "/tmp/crash_helper_busXXXXXX";
    int fd = mkstemp(path);
    unlink(path);
    void* p = mmap(nullptr, 4096, PROT_READ, MAP_SHARED, fd, 0);  // the file is empty
    g_sink = *static_cast<volatile char*>(p);
}

__attribute__((noinline)) void RaiseSegv()
{
    raise(SIGSEGV);
    g_sink = g_sink + 1;  // no tail call: the function stays in the backtrace
}

__attribute__((noinline)) void SleepingWorker()
{
    g_started.fetch_add(1);
    for (;;) sleep(100);
}

__attribute__((noinline)) void BusyWorker()
{
    g_started.fetch_add(1);
    for (;;) g_sink = g_sink + 1;
}

__attribute__((noinline)) void BlockedBusyWorker()
{
    BlockSignals(true);
    g_started.fetch_add(1);
    for (;;) g_sink = g_sink + 1;
}

__attribute__((noinline)) void BlockedWorker()
{
    BlockSignals(true);
    g_started.fetch_add(1);
    for (;;) sleep(100);
}

void StartWorkers(int count, bool busy)
{
    for (int i = 0; i < count; ++i) {
        std::thread worker(busy && i % 2 == 0 ? BusyWorker : SleepingWorker);
        worker.detach();
    }
}

void WaitStarted(int count)
{
    while (g_started.load() < count) usleep(1000);
}

// Open descriptors, counted without the heap (usable inside a signal handler).
int CountOpenFds()
{
    int dir = open("/proc/self/fd", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0) return -1;
    alignas(8) char buffer[4096];
    int count = 0;
    long n;
    while ((n = syscall(SYS_getdents64, dir, buffer, sizeof buffer)) > 0) {
        for (long offset = 0; offset < n;) {
            const unsigned short length = *reinterpret_cast<unsigned short*>(buffer + offset + 16);
            const char* name = buffer + offset + 19;
            if (name[0] != '.') ++count;
            offset += length;
        }
    }
    close(dir);
    return count - 1;  // less the folder itself
}

void ReportOpenFds(const char* when)
{
    char line[64];
    int n = snprintf(line, sizeof line, "open descriptors %s: %d\n", when, CountOpenFds());
    (void)!write(2, line, static_cast<size_t>(n));
}

void PreviousHandler(int)
{
    static const char message[] = "previous handler ran\n";
    (void)!write(2, message, sizeof message - 1);
    ReportOpenFds("after the dump");
    signal(SIGSEGV, SIG_DFL);
}

CRASHES void FaultingPreviousHandler(int)
{
    static const char message[] = "previous handler faults\n";
    (void)!write(2, message, sizeof message - 1);
    *g_null = 3;
}

CRASHES void FaultInWriter()
{
    *g_null = 4;
}

// The modes whose fault comes on the main thread, once the workers run.
const std::map<std::string, void (*)()> kMainThreadFaults = {
    {"main-null", CrashOnMainThread},
    {"prev-handler", CrashOnMainThread},
    {"prev-handler-faults", CrashOnMainThread},
    {"writer-fault", CrashOnMainThread},
    {"abort", AbortOnMainThread},
    {"fpe", DivideByZero},
    {"ill", IllegalInstruction},
    {"bus", BusError},
    {"raise", RaiseSegv},
    {"overflow", [] { g_sink = RecurseForever(0); }},
};

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        fprintf(stderr,
                "usage: crash_helper MODE [--threads N] [--reporter PATH] [--app TEXT] [--no-install] [--stamp]\n");
        return 2;
    }
    const std::string mode = argv[1];
    int threads = 3;
    const char* reporter = nullptr;
    const char* app = nullptr;
    bool install = true;
    for (int i = 2; i < argc; ++i) {
        std::string option = argv[i];
        if (option == "--threads" && i + 1 < argc)
            threads = atoi(argv[++i]);
        else if (option == "--reporter" && i + 1 < argc)
            reporter = argv[++i];
        else if (option == "--app" && i + 1 < argc)
            app = argv[++i];
        else if (option == "--no-install")
            install = false;
        else if (option == "--stamp")
            g_stamp = true;
    }

    if (mode == "prev-handler") signal(SIGSEGV, PreviousHandler);
    if (mode == "prev-handler-faults") signal(SIGSEGV, FaultingPreviousHandler);
    if (install) InstallCrashHandler(reporter, app);
    if (mode == "writer-fault") tavisk_crash::s_pfnWriterTestHook = FaultInWriter;

    if (mode == "thread-null") {
        StartWorkers(threads, true);
        WaitStarted(threads);
        std::thread faulting(FaultingWorker);
        faulting.join();
    } else if (mode == "two-faults") {
        StartWorkers(threads, false);
        WaitStarted(threads);
        std::thread a(FaultingTwinA);
        std::thread b(FaultingTwinB);
        // Both must be spinning at the start line, or one would fault alone.
        while (g_twinsReady.load() < 2) usleep(1000);
        g_go.store(true);
        a.join();
        b.join();
    } else if (mode == "blocked-thread" || mode == "blocked-busy-thread") {
        std::thread blocked(mode == "blocked-thread" ? BlockedWorker : BlockedBusyWorker);
        blocked.detach();
        StartWorkers(threads, false);
        WaitStarted(threads + 1);
        CrashOnMainThread();
    } else {
        StartWorkers(threads, false);
        WaitStarted(threads);
        if (mode == "prev-handler") ReportOpenFds("before the fault");
        const auto fault = kMainThreadFaults.find(mode);
        if (fault == kMainThreadFaults.end()) {
            fprintf(stderr, "crash_helper: unknown mode %s\n", mode.c_str());
            return 2;
        }
        fault->second();
    }
    fprintf(stderr, "crash_helper: still alive after the crash\n");
    return 3;
}
