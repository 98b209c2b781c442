#include "CrashTestSupport.h"

#include "support/WaitUntil.h"

#include <chrono>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <elf.h>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

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
    RunResult result;
    TempDir io;
    const std::string outPath = io / "out";
    const std::string errPath = io / "err";

    std::vector<std::string> env;
    std::vector<std::string> settings = setEnv;
    settings.push_back("ASAN_OPTIONS=" + SanitizerOptionsForChild());
    for (char** e = environ; *e != nullptr; ++e) {
        std::string entry = *e;
        std::string name = entry.substr(0, entry.find('='));
        bool drop = false;
        for (const std::string& u : unsetEnv) drop = drop || u == name;
        for (const std::string& s : settings) drop = drop || s.substr(0, s.find('=')) == name;
        if (!drop) env.push_back(entry);
    }
    for (const std::string& s : settings) env.push_back(s);
    std::vector<char*> envp;
    for (std::string& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    std::vector<std::string> args = argv;
    std::vector<char*> argp;
    for (std::string& a : args) argp.push_back(a.data());
    argp.push_back(nullptr);

    pid_t pid = fork();
    if (pid == 0) {
        int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int in = open("/dev/null", O_RDONLY);
        dup2(in, 0);
        dup2(out, 1);
        dup2(err, 2);
        setpgid(0, 0);
        execve(argp[0], argp.data(), envp.data());
        _exit(127);
    }
    result.pid = pid;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
    for (;;) {
        pid_t done = waitpid(pid, &result.status, WNOHANG);
        if (done == pid) break;
        if (std::chrono::steady_clock::now() > deadline) {
            result.timedOut = true;
            kill(-pid, SIGKILL);
            kill(pid, SIGKILL);
            waitpid(pid, &result.status, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    result.out = ReadFile(outPath);
    result.err = ReadFile(errPath);
    return result;
}

bool EndedBySignal(const RunResult& result, int signo)
{
    return !result.timedOut && WIFSIGNALED(result.status) && WTERMSIG(result.status) == signo;
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

std::string HelperPath()
{
    return CRASH_HELPER_PATH;
}

std::string BuildDir()
{
    const char* build = getenv("TAVISK_BUILD_DIR");
    return build != nullptr && *build != '\0' ? build : TAVISK_CRASH_BUILD_DIR;
}

void CopyHelper(const std::string& path)
{
    MakeDirs(fs::path(path).parent_path().string());
    fs::copy_file(HelperPath(), path, fs::copy_options::overwrite_existing);
    fs::permissions(path, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                              fs::perms::others_read | fs::perms::others_exec);
}

void MakeDirs(const std::string& path)
{
    fs::create_directories(path);
}

void WriteFile(const std::string& path, const std::string& text, int mode)
{
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out << text;
    }
    chmod(path.c_str(), static_cast<mode_t>(mode));
}

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

bool Exists(const std::string& path)
{
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

bool IsDirectory(const std::string& path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool WaitForFile(const std::string& path, int timeoutSeconds)
{
    return test_support::WaitUntil([&] { return Exists(path); }, std::chrono::seconds(timeoutSeconds));
}

std::vector<unsigned char> ElfBuildId(const std::string& path)
{
    const std::string data = ReadFile(path);
    if (data.size() < sizeof(Elf64_Ehdr)) return {};
    Elf64_Ehdr eh;
    std::memcpy(&eh, data.data(), sizeof eh);
    for (unsigned i = 0; i < eh.e_shnum; ++i) {
        Elf64_Shdr sh;
        const size_t at = eh.e_shoff + size_t{i} * eh.e_shentsize;
        if (at + sizeof sh > data.size()) return {};
        std::memcpy(&sh, data.data() + at, sizeof sh);
        if (sh.sh_type != SHT_NOTE) continue;
        size_t offset = sh.sh_offset;
        const size_t end = sh.sh_offset + sh.sh_size;
        const size_t align = sh.sh_addralign == 8 ? 8 : 4;
        while (offset + sizeof(Elf64_Nhdr) <= end) {
            Elf64_Nhdr nh;
            std::memcpy(&nh, data.data() + offset, sizeof nh);
            const size_t name = offset + sizeof nh;
            const size_t desc = name + ((nh.n_namesz + align - 1) & ~(align - 1));
            if (nh.n_type == NT_GNU_BUILD_ID && nh.n_namesz == 4 && std::memcmp(data.data() + name, "GNU", 4) == 0)
                return std::vector<unsigned char>(data.begin() + static_cast<long>(desc),
                                                  data.begin() + static_cast<long>(desc + nh.n_descsz));
            offset = desc + ((nh.n_descsz + align - 1) & ~(align - 1));
        }
    }
    return {};
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
    std::string line;
    enum { kNone, kList, kBacktrace } section = kNone;
    bool inSelected = false;
    while (std::getline(lines, line)) {
        if (line.rfind("(lldb) thread list", 0) == 0) {
            section = kList;
            continue;
        }
        if (line.rfind("(lldb) bt all", 0) == 0) {
            section = kBacktrace;
            continue;
        }
        if (section == kList && line.find("thread #") != std::string::npos &&
            line.find("tid = ") != std::string::npos) {
            ++result.threadCount;
            result.threadLines.push_back(line);
            if (line.rfind("* ", 0) == 0) result.stopLine = line;
        }
        if (section == kBacktrace) {
            if (line.rfind("* thread #", 0) == 0) {
                inSelected = true;
                continue;
            }
            if (line.rfind("  thread #", 0) == 0) inSelected = false;
            if (inSelected) result.faultingBacktrace += line + "\n";
        }
    }
    return result;
}

}  // namespace crash_test
