#include "CrashTestSupport.h"

#include "support/ChildProcess.h"
#include "support/Command.h"
#include "support/WaitUntil.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cctype>
#include <filesystem>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace crash_test {

namespace fs = std::filesystem;

std::string SanitizerOptionsForChild()
{
    // In a sanitizer build the sanitizer would take the fatal signals itself: leave them to
    // the program, whatever options the test run gives (later options win).
    const char* asan = getenv("ASAN_OPTIONS");
    return std::string(asan ? asan : "") +
           ":handle_segv=0:handle_sigbus=0:handle_sigfpe=0:handle_sigill=0:handle_abort=0:detect_leaks=0";
}

RunResult RunProgram(const std::vector<std::string>& argv, const std::vector<std::string>& setEnv,
                     const std::vector<std::string>& unsetEnv, int timeoutSeconds)
{
    const test_support::TempDir io;
    std::vector<std::string> env = setEnv;
    env.push_back("ASAN_OPTIONS=" + SanitizerOptionsForChild());
    test_support::ChildProcess child(argv,
                                     {.env = env, .unsetEnv = unsetEnv, .output = io / "out", .errors = io / "err"});
    RunResult result;
    result.pid = child.Pid();
    result.timedOut = !child.AwaitExit(std::chrono::seconds(timeoutSeconds));
    result.ended = std::chrono::steady_clock::now();
    child.Stop();
    result.status = child.Status();
    result.out = ReadFile(io / "out");
    result.err = ReadFile(io / "err");
    return result;
}

testing::AssertionResult EndedBy(const RunResult& result, int signo)
{
    if (!result.timedOut && WIFSIGNALED(result.status) && WTERMSIG(result.status) == signo)
        return testing::AssertionSuccess();
    return testing::AssertionFailure() << "not ended by signal " << signo << ": " << Describe(result);
}

std::string Describe(const RunResult& result)
{
    std::ostringstream s;
    if (result.timedOut) s << "timed out; ";
    if (WIFSIGNALED(result.status))
        s << "ended by signal " << WTERMSIG(result.status);
    else if (WIFEXITED(result.status))
        s << "exited with " << WEXITSTATUS(result.status);
    s << "\nstdout: " << result.out << "\nstderr: " << result.err;
    return s.str();
}

void CopyHelper(const std::string& path)
{
    fs::create_directories(fs::path(path).parent_path());
    fs::copy_file(kHelperPath, path, fs::copy_options::overwrite_existing);
    fs::permissions(path, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                              fs::perms::others_read | fs::perms::others_exec);
}

bool Exists(const std::string& path)
{
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

RunResult HelperCopy::RunCopy(const std::vector<std::string>& args, const std::vector<std::string>& setEnv,
                              const std::vector<std::string>& unsetEnv) const
{
    std::vector<std::string> env = setEnv;
    for (const std::string& entry : {"XDG_STATE_HOME=" + (dir / "state"), "REPORTER_OUT=" + (dir / "args")})
        if (std::ranges::find(unsetEnv, entry.substr(0, entry.find('='))) == unsetEnv.end()) env.push_back(entry);
    std::vector<std::string> argv = {program};
    argv.insert(argv.end(), args.begin(), args.end());
    return RunProgram(argv, env, unsetEnv);
}

testing::AssertionResult HelperCopy::Crash(const std::vector<std::string>& args, int signo)
{
    run = RunCopy(args);
    return EndedBy(run, signo);
}

std::vector<std::string> HelperCopy::ReporterArguments() const
{
    const std::string file = dir / "args";
    test_support::WaitUntil([&] { return Exists(file); }, std::chrono::seconds(20));
    std::vector<std::string> args;
    std::istringstream text(ReadFile(file));
    for (std::string arg; std::getline(text, arg, '\0');) args.push_back(arg);
    return args;
}

void WriteReporter(const std::string& path)
{
    WriteFile(path,
              "#!/bin/sh\n"
              "printf '%s\\0' \"$@\" > \"$REPORTER_OUT.tmp\" && mv \"$REPORTER_OUT.tmp\" \"$REPORTER_OUT\"\n");
    chmod(path.c_str(), 0755);
}

std::vector<unsigned char> ElfBuildId(const std::string& path)
{
    // As readelf prints its notes: "    Build ID: 23933c87...".
    const std::string notes = test_support::CommandOutput("readelf -n '" + path + "' 2>/dev/null");
    const size_t at = notes.find("Build ID: ");
    std::vector<unsigned char> id;
    for (size_t i = at + 10; at != std::string::npos && i + 1 < notes.size() && std::isxdigit(notes[i]); i += 2)
        id.push_back(static_cast<unsigned char>(std::stoi(notes.substr(i, 2), nullptr, 16)));
    return id;
}

LldbResult RunLldb(const std::string& dump, const std::string& program)
{
    LldbResult result;
    const std::string lldb = "/usr/bin/lldb-15";
    if (access(lldb.c_str(), X_OK) != 0) return result;
    result.found = true;
    // Debian's lldb-15 finds its Python module only with this path.
    RunResult run = RunProgram({lldb, "-b", "-c", dump, program, "-o", "thread list", "-o", "bt all"},
                               {"PYTHONPATH=/usr/lib/llvm-15/lib/python3.11/dist-packages"}, {}, 120);
    result.output = run.out + run.err;

    std::istringstream lines(run.out);
    std::string command;  // the one whose output the lines are
    bool inSelected = false;
    for (std::string line; std::getline(lines, line);) {
        if (line.starts_with("(lldb) ")) {
            command = line.substr(7);
        } else if (command.starts_with("thread list") && line.find("thread #") != std::string::npos &&
                   line.find("tid = ") != std::string::npos) {
            result.threadLines.push_back(line);
            if (line.starts_with("* ")) result.stopLine = line;
        } else if (command.starts_with("bt all")) {
            if (line.find("thread #") == 2)
                inSelected = line.starts_with("* ");
            else if (inSelected)
                result.faultingBacktrace += line + "\n";
        }
    }
    return result;
}

}  // namespace crash_test
