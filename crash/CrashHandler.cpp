// InstallCrashHandler and CrashExceptionFilter: the installation, the signal path that stops
// the other threads, writes the dump and starts the reporter, and the chaining to the handlers
// that were in force before. Also the version marker that every program linking this file carries.
#include "crash/CrashHandler.h"

#include "crash/CrashInternal.h"
#include "crash/SafeIo.h"
#include "crash/ThreadStopper.h"

#include <atomic>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <pwd.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <unistd.h>

extern char** environ;

#ifndef TAVISK_VERSION_MAJOR
#define TAVISK_VERSION_MAJOR 0
#define TAVISK_VERSION_MINOR 0
#define TAVISK_VERSION_PATCH 0
#define TAVISK_VERSION_TWEAK 0
#endif
#define TAVISK_STRINGIFY2(x) #x
#define TAVISK_STRINGIFY(x) TAVISK_STRINGIFY2(x)

// The program's version as an ELF note (owner "Tavisk", type 1, four 16-bit parts), so that
// GetModuleFileVersion can read it from the program file by its path. It sits in the same
// object as InstallCrashHandler, so every program that installs the handler carries it.
asm(".pushsection .note.tavisk.version,\"aR\",@note\n"
    "\t.balign 4\n"
    "\t.long 7\n"
    "\t.long 8\n"
    "\t.long 1\n"
    "\t.asciz \"Tavisk\"\n"
    "\t.balign 4\n"
    "\t.short " TAVISK_STRINGIFY(TAVISK_VERSION_MAJOR) ", " TAVISK_STRINGIFY(TAVISK_VERSION_MINOR) ", " TAVISK_STRINGIFY(
        TAVISK_VERSION_PATCH) ", " TAVISK_STRINGIFY(TAVISK_VERSION_TWEAK) "\n"
    "\t.balign 4\n"
    ".popsection\n");

namespace tavisk_crash {

char s_szReporter[kPathSize];
char s_szAppArg[kAppArgSize];
char s_szDumpFile[kPathSize];
char s_szFallbackDump[kLongPathSize];
char s_szFallbackDir[kLongPathSize];
char s_szProgram[kPathSize];
int s_hDumpFile = -1;
struct sigaction s_prevFilters[kFatalSignalCount];
bool s_bInstalled = false;
uint16_t s_wVersion[4];
bool s_bHaveVersion = false;

namespace {

constexpr size_t kAltStackSize = 256u << 10;

std::atomic<int> s_crashOwner{0};
CrashInfo s_crashInfo;
char s_szVersion[32] = "0.0.0.0";
char s_szPid[24];
const char* s_reporterArgv[12];

bool PrepareAltStack()
{
    stack_t current{};
    if (sigaltstack(nullptr, &current) == 0 && !(current.ss_flags & SS_DISABLE) && current.ss_size >= kAltStackSize)
        return true;  // one of that size is already in place
    const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    void* memory = mmap(nullptr, kAltStackSize + page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (memory == MAP_FAILED) return false;
    mprotect(memory, page, PROT_NONE);  // a guard page below: overflowing it faults instead of corrupting
    stack_t stack{};
    stack.ss_sp = static_cast<char*>(memory) + page;
    stack.ss_size = kAltStackSize;
    stack.ss_flags = 0;
    if (sigaltstack(&stack, nullptr) != 0) {
        munmap(memory, kAltStackSize + page);
        return false;
    }
    return true;
}

const char* HomeFolder()
{
    const char* home = getenv("HOME");
    if (home != nullptr && home[0] == '/') return home;
    static char buffer[4096];
    static char homeCopy[kLongPathSize];
    passwd entry{};
    passwd* result = nullptr;
    if (getpwuid_r(getuid(), &entry, buffer, sizeof buffer, &result) == 0 && result != nullptr &&
        result->pw_dir != nullptr) {
        CopyCut(homeCopy, sizeof homeCopy, result->pw_dir);
        return homeCopy;
    }
    return nullptr;
}

// Creates (or replaces) the dump beside the program, else in the user's state folder.
// Returns the path to hand to the reporter.
const char* OpenDumpFile()
{
    s_hDumpFile = -1;
    const int flags = O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW;
    if (s_szDumpFile[0] != '\0') {
        s_hDumpFile = safe::Open(s_szDumpFile, flags, 0600);
        if (s_hDumpFile >= 0) return s_szDumpFile;
    }
    if (s_szFallbackDump[0] != '\0') {
        safe::MakeDirs(s_szFallbackDir);
        s_hDumpFile = safe::Open(s_szFallbackDump, flags, 0600);
        if (s_hDumpFile >= 0) return s_szFallbackDump;
    }
    return s_szDumpFile[0] != '\0' ? s_szDumpFile : s_szFallbackDump;
}

// fork and exec without a shell. The raw system call skips the fork handlers of the C library,
// which take locks that the crashed program may hold.
void StartReporter(const char* dumpPath)
{
    const char* const* argv = ReporterArguments(dumpPath, safe::Getpid());
    long child = syscall(SYS_clone, SIGCHLD, 0, 0, 0, 0);
    if (child != 0) return;  // the parent (or a failed clone) goes on; the reporter is not waited for
    for (int signo : kFatalSignals) safe::SetDefaultAction(signo);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    syscall(SYS_execve, s_szReporter, argv, environ);
    syscall(SYS_exit_group, 127);
}

bool IsOurs(const struct sigaction& action)
{
    return (action.sa_flags & SA_SIGINFO) && action.sa_sigaction == CrashExceptionFilter;
}

// Puts back the handlers that were in force before installation (an ignored fatal signal gets
// its default action), then lets the signal reach them: a fault raised by an instruction happens
// again when this handler returns; a signal sent by a program or by abort() is sent again.
void ChainToPrevious(int signo, const siginfo_t* info)
{
    for (int i = 0; i < kFatalSignalCount; ++i) {
        const struct sigaction& previous = s_prevFilters[i];
        if (IsOurs(previous) || (!(previous.sa_flags & SA_SIGINFO) && previous.sa_handler == SIG_IGN))
            safe::SetDefaultAction(kFatalSignals[i]);
        else
            sigaction(kFatalSignals[i], &previous, nullptr);
    }
    if (info == nullptr || info->si_code <= 0 || signo == SIGABRT) {
        safe::BlockSignal(signo, false);
        safe::Tgkill(safe::Getpid(), safe::Gettid(), signo);
    }
}

// The last resort on a fault inside the crash path: the default action, now.
void DieBySignal(int signo)
{
    safe::SetDefaultAction(signo);
    safe::BlockSignal(signo, false);
    safe::Tgkill(safe::Getpid(), safe::Gettid(), signo);
}

}  // namespace

int CrashOwner()
{
    return s_crashOwner.load(std::memory_order_acquire);
}

const char* const* ReporterArguments(const char* dumpPath, int pid)
{
    safe::FormatUnsigned(s_szPid, static_cast<uint64_t>(static_cast<unsigned>(pid)));
    const char* args[] = {s_szReporter, "-f", dumpPath,   "-t",   s_szProgram, "-v",
                          s_szVersion,  "-a", s_szAppArg, "-pid", s_szPid,     nullptr};
    static_assert(sizeof args == sizeof s_reporterArgv);
    std::memcpy(s_reporterArgv, args, sizeof args);
    return s_reporterArgv;
}

void CrashExceptionFilter(int signo, siginfo_t* info, void* ucontext)
{
    const int self = safe::Gettid();
    int owner = 0;
    if (!s_crashOwner.compare_exchange_strong(owner, self, std::memory_order_acq_rel)) {
        if (owner == self) {
            // A fault inside the crash path itself: leave the writer with what it has, or end now.
            if (InsideWriter()) LeaveWriter();
            DieBySignal(signo);
            return;
        }
        // Another thread is writing the dump: show this one at its own fault, and wait to be stopped.
        RegisterConcurrentFault(self, static_cast<const ucontext_t*>(ucontext));
        safe::BlockSignal(StopSignal(), false);
        for (;;) safe::SleepNs(1000000000ull);
    }

    s_crashInfo.signo = signo;
    s_crashInfo.code = info != nullptr ? info->si_code : 0;
    s_crashInfo.faultAddress = info != nullptr && info->si_code > 0 ? reinterpret_cast<uint64_t>(info->si_addr) : 0;
    s_crashInfo.threadId = self;
    if (ucontext != nullptr) ContextFromUcontext(static_cast<const ucontext_t*>(ucontext), &s_crashInfo.context);

    SuspendOtherThreads();
    const char* dumpPath = OpenDumpFile();
    WriteMiniDump(&s_crashInfo);
    if (s_hDumpFile >= 0) {
        fdatasync(s_hDumpFile);
        safe::Close(s_hDumpFile);
        s_hDumpFile = -1;
    }
    if (s_szReporter[0] != '\0') StartReporter(dumpPath);
    ChainToPrevious(signo, info);
}

bool InstallForProgramPath(const char* path, size_t length)
{
    if (length == 0) {
        std::printf("(%d): can't get filename\n", kMsgCantGetFilename);
        std::fflush(stdout);
        return false;
    }
    if (length >= kPathSize) {
        std::printf("%s(%d): file(%.*s) too large\n", "CrashHandler.cpp", kMsgFileTooLarge, static_cast<int>(length),
                    path);
        std::fflush(stdout);
        return false;
    }
    if (s_bInstalled) return true;

    std::memcpy(s_szProgram, path, length);
    s_szProgram[length] = '\0';
    FormDumpName(s_szProgram, s_szDumpFile, sizeof s_szDumpFile);
    FormFallbackDumpPath(s_szProgram, getenv("XDG_STATE_HOME"), HomeFolder(), s_szFallbackDir, sizeof s_szFallbackDir,
                         s_szFallbackDump, sizeof s_szFallbackDump);
    s_bHaveVersion = GetModuleFileVersion(s_szProgram, &s_wVersion[0], &s_wVersion[1], &s_wVersion[2], &s_wVersion[3]);
    if (!s_bHaveVersion) std::memset(s_wVersion, 0, sizeof s_wVersion);
    std::snprintf(s_szVersion, sizeof s_szVersion, "%d.%d.%d.%d", s_wVersion[0], s_wVersion[1], s_wVersion[2],
                  s_wVersion[3]);

    if (!PrepareThreadStopper() || !PrepareMinidumpWriter() || !PrepareAltStack()) return false;

    struct sigaction action {};
    action.sa_sigaction = CrashExceptionFilter;
    // SA_NODEFER: a fault inside the handler re-enters it and is recognised there.
    action.sa_flags = SA_SIGINFO | SA_ONSTACK | SA_NODEFER;
    FillAllButFatal(&action.sa_mask);
    for (int i = 0; i < kFatalSignalCount; ++i) sigaction(kFatalSignals[i], &action, &s_prevFilters[i]);
    s_bInstalled = true;
    return true;
}

}  // namespace tavisk_crash

void InstallCrashHandler(const char* reporterPath, const char* appArgument)
{
    using namespace tavisk_crash;
    if (reporterPath != nullptr) CopyCut(s_szReporter, sizeof s_szReporter, reporterPath);
    if (appArgument != nullptr) CopyCut(s_szAppArg, sizeof s_szAppArg, appArgument);
    char path[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n > 0) path[n] = '\0';
    InstallForProgramPath(path, n > 0 ? static_cast<size_t>(n) : 0);
}
