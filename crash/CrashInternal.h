// The crash module's inner names and state, shared by its files and its tests.
// Everything here is prepared by InstallCrashHandler; the signal path only reads it.
#pragma once

#include "crash/MinidumpFormat.h"

#include <csignal>
#include <cstddef>
#include <cstdint>
#include <ucontext.h>

namespace tavisk_crash {

constexpr int kPathSize = 260;       // program, reporter and dump paths: at most 259 characters
constexpr int kAppArgSize = 1024;    // reporter's -a value: at most 1023 characters
constexpr int kLongPathSize = 4096;  // the dump in the user's state folder may be longer
constexpr int kMsgCantGetFilename = 590;
constexpr int kMsgFileTooLarge = 593;

constexpr int kFatalSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};
constexpr int kFatalSignalCount = sizeof kFatalSignals / sizeof kFatalSignals[0];

// Every signal but the fatal ones: a handler with this mask still sees its own faults.
inline void FillAllButFatal(sigset_t* mask)
{
    sigfillset(mask);
    for (int signo : kFatalSignals) sigdelset(mask, signo);
}

// Process-wide state, zero at start.
extern char s_szReporter[kPathSize];          // reporter program; empty: none is started
extern char s_szAppArg[kAppArgSize];          // the reporter's -a value
extern char s_szDumpFile[kPathSize];          // the dump beside the program; empty when that name is too long
extern char s_szFallbackDump[kLongPathSize];  // the dump in the user's state folder; empty when there is no such folder
extern char s_szFallbackDir[kLongPathSize];   // its folder, created at the crash when missing
extern char s_szProgram[kPathSize];           // the program's own full path (-t)
extern int s_hDumpFile;                       // the dump while it is written; -1 otherwise
extern struct sigaction s_prevFilters[kFatalSignalCount];  // the handlers in force before installation
extern bool s_bInstalled;
extern uint16_t s_wVersion[4];  // the program file's version, read at installation
extern bool s_bHaveVersion;

// The fault as the handler received it, converted for the writer.
struct CrashInfo {
    int signo;
    int code;                  // si_code
    uint64_t faultAddress;     // si_addr for faults raised by the processor or kernel, else 0
    int threadId;              // the faulting thread
    md::ContextAmd64 context;  // its registers at the fault
};

// The signal handler for the fatal signals.
void CrashExceptionFilter(int signo, siginfo_t* info, void* ucontext);
// Stops every thread of the process except the caller and records their registers. Never resumed.
void SuspendOtherThreads();
// Writes the minidump to s_hDumpFile.
void WriteMiniDump(const CrashInfo* info);

// The program's full path (from /proc/self/exe): at most size-1 characters and a zero. False when empty.
bool GetModulePath(char* buffer, int size);
// The version carried in an ELF program file, most significant part first; the outputs are
// written only on success. Files without the version marker answer false.
bool GetModuleFileVersion(const char* path, uint16_t* part1, uint16_t* part2, uint16_t* part3, uint16_t* part4);

// Copies at most dstSize-1 characters and a terminating zero.
void CopyCut(char* dst, size_t dstSize, const char* src);
// The dump beside the program: the file name's last "." onward becomes ".dmp"; without one
// (a leading dot does not count) ".dmp" is appended. False (and out empty) when it does not fit.
bool FormDumpName(const char* programPath, char* out, size_t outSize);
// The dump in the user's state folder: <stateHome or home/.local/state>/<program stem>/<dump name>.
// stateHome counts only when absolute. False (both empty) when neither is usable or it does not fit.
bool FormFallbackDumpPath(const char* programPath, const char* stateHome, const char* home, char* dir, size_t dirSize,
                          char* file, size_t fileSize);

// Installation from a given program path (length 0: it could not be read). Prints the two
// installation messages. Returns whether the handlers are in place.
bool InstallForProgramPath(const char* path, size_t length);

// Preparation done by the installer for each part of the signal path.
bool PrepareThreadStopper();
bool PrepareMinidumpWriter();

// The reporter's arguments, ready for execve; dumpPath and the process id are filled at the crash.
const char* const* ReporterArguments(const char* dumpPath, int pid);

// Registers from a signal's ucontext.
void ContextFromUcontext(const ucontext_t* uc, md::ContextAmd64* out);

// A fault inside the writer: the filter leaves the writer with what it has written so far.
bool InsideWriter();
[[noreturn]] void LeaveWriter();

// Crash in progress: the id of the thread writing the dump, 0 before any crash.
int CrashOwner();

// Test hook: called by the writer before the module list when set (used to fault inside the writer).
extern void (*volatile s_pfnWriterTestHook)();

}  // namespace tavisk_crash
