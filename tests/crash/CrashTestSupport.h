// Running the crashing helper and the dump reader (lldb-15) from the crash tests.
#pragma once

#include "support/BuildTree.h"
#include "support/Files.h"
#include "support/TempDir.h"

#include <chrono>
#include <csignal>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace crash_test {

using test_support::BuildDir;
using test_support::ReadFile;
using test_support::TempDir;
using test_support::WriteFile;

struct RunResult {
    int pid = 0;
    int status = 0;  // as from waitpid
    bool timedOut = false;
    std::string out;                              // standard output
    std::string err;                              // standard error
    std::chrono::steady_clock::time_point ended;  // when it was seen to end
};

// Runs argv[0] with the test's environment plus `setEnv` ("NAME=value") less `unsetEnv`.
// The process is killed after timeoutSeconds.
RunResult RunProgram(const std::vector<std::string>& argv, const std::vector<std::string>& setEnv = {},
                     const std::vector<std::string>& unsetEnv = {}, int timeoutSeconds = 60);
// Whether it ended by `signo`; if not, how it did end.
testing::AssertionResult EndedBy(const RunResult& result, int signo);
// ASAN_OPTIONS for a child: the run's own, with the fatal signals left to the program.
std::string SanitizerOptionsForChild();
std::string Describe(const RunResult& result);

inline const std::string kHelperPath = CRASH_HELPER_PATH;
// Copies the helper program to `path` (folders are created), executable.
void CopyHelper(const std::string& path);
bool Exists(const std::string& path);

// A copy of the helper in a fresh folder, so that no two runs share a dump. Its
// runs keep their state folder in the same folder and tell a reporter where to
// write its arguments.
struct HelperCopy {
    HelperCopy() { CopyHelper(program); }
    // Runs a copy at `path` from now on.
    void CopyTo(const std::string& path)
    {
        program = path;
        CopyHelper(program);
    }

    // Runs the copy with `args` in the folder's environment plus `setEnv` less `unsetEnv`.
    RunResult RunCopy(const std::vector<std::string>& args, const std::vector<std::string>& setEnv = {},
                      const std::vector<std::string>& unsetEnv = {}) const;
    // Runs it into `run`: it must end by `signo`.
    testing::AssertionResult Crash(const std::vector<std::string>& args, int signo = SIGSEGV);
    // The arguments a reporter written by WriteReporter was started with (waits for them).
    std::vector<std::string> ReporterArguments() const;

    TempDir dir;
    std::string program = dir / "crash_helper";
    std::string dump = dir / "crash_helper.dmp";  // beside the first copy
    RunResult run;
};

// A reporter that records its arguments for HelperCopy::ReporterArguments.
void WriteReporter(const std::string& path);

// The GNU build id of an ELF file as readelf reads it, as raw bytes.
std::vector<unsigned char> ElfBuildId(const std::string& path);

// lldb-15 on a dump: `thread list` and `bt all`.
struct LldbResult {
    bool found = false;  // lldb-15 is installed
    std::string output;
    std::vector<std::string> threadLines;  // `thread list`: each thread where it stands (frame 0)
    std::string stopLine;                  // the selected thread's line in `thread list`
    std::string faultingBacktrace;         // the selected thread's frames in `bt all`
};
LldbResult RunLldb(const std::string& dump, const std::string& program);

}  // namespace crash_test
