// Running the crashing helper and the dump reader (lldb-15) from the crash tests.
#pragma once

#include "support/BuildTree.h"
#include "support/ChildProcess.h"
#include "support/Files.h"
#include "support/TempDir.h"
#include "support/WaitUntil.h"

#include <string>
#include <vector>

namespace crash_test {

struct RunResult {
    int pid = 0;
    int status = 0;  // as from waitpid
    bool timedOut = false;
    std::string out;  // standard output
    std::string err;  // standard error
};

// Runs argv[0] with the test's environment plus `setEnv` ("NAME=value") less `unsetEnv`.
// The process is killed after timeoutSeconds.
RunResult RunProgram(const std::vector<std::string>& argv, const std::vector<std::string>& setEnv = {},
                     const std::vector<std::string>& unsetEnv = {}, int timeoutSeconds = 60);

bool EndedBySignal(const RunResult& result, int signo);
// ASAN_OPTIONS for a child: the run's own, with the fatal signals left to the program.
std::string SanitizerOptionsForChild();
std::string Describe(const RunResult& result);

using test_support::BuildDir;
using test_support::ReadFile;
using test_support::TempDir;

std::string HelperPath();
// Copies the helper program to `path` (folders are created), executable.
void CopyHelper(const std::string& path);
void MakeDirs(const std::string& path);
void WriteFile(const std::string& path, const std::string& text, int mode = 0644);
bool Exists(const std::string& path);
bool IsDirectory(const std::string& path);
// Waits until the file exists (and is complete: written then renamed), at most timeoutSeconds.
bool WaitForFile(const std::string& path, int timeoutSeconds);

// The GNU build id of an ELF file, read from its sections, as raw bytes.
std::vector<unsigned char> ElfBuildId(const std::string& path);

// lldb-15 on a dump: `thread list` and `bt all`.
struct LldbResult {
    bool found = false;  // lldb-15 is installed
    std::string output;
    int threadCount = 0;                   // threads in `thread list`
    std::vector<std::string> threadLines;  // `thread list`: each thread where it stands (frame 0)
    std::string stopLine;                  // the selected thread's line in `thread list`
    std::string faultingBacktrace;         // the selected thread's frames in `bt all`
};
LldbResult RunLldb(const std::string& dump, const std::string& program);

}  // namespace crash_test
