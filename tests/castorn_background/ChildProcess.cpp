#include "ChildProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <stdexcept>
#include <string_view>

extern char** environ;

namespace castorn_test {

namespace {

bool Overridden(const std::vector<std::string>& env, const char* var)
{
    const std::string_view text(var);
    const std::string_view name = text.substr(0, text.find('='));
    for (const auto& entry : env)
        if (std::string_view(entry).substr(0, entry.find('=')) == name) return true;
    return false;
}

}  // namespace

ChildProcess::ChildProcess(const std::vector<std::string>& args, const std::vector<std::string>& env,
                           const std::string& workingDir)
{
    std::vector<std::string> fullEnv(env);
    for (char** var = environ; *var; ++var)
        if (!Overridden(env, *var)) fullEnv.emplace_back(*var);
    std::vector<char*> argv, envp;
    for (const auto& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    for (const auto& var : fullEnv) envp.push_back(const_cast<char*>(var.c_str()));
    argv.push_back(nullptr);
    envp.push_back(nullptr);
    m_pid = fork();
    if (m_pid < 0) throw std::runtime_error("cannot start " + args[0]);
    if (m_pid > 0) return;
    // Only async-signal-safe calls from here on. Its own process group, so that
    // stopping it stops what it started; and it goes when a crashed test does.
    setpgid(0, 0);
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    dup2(null, 2);
    if (!workingDir.empty() && chdir(workingDir.c_str()) != 0) _exit(127);
    execvpe(argv[0], argv.data(), envp.data());
    _exit(127);
}

ChildProcess::~ChildProcess()
{
    Stop();
}

bool ChildProcess::Running()
{
    int status = 0;
    if (m_pid > 0 && waitpid(m_pid, &status, WNOHANG) == m_pid) {
        m_pid = -1;
        m_status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    return m_pid > 0;
}

bool ChildProcess::AwaitExit(double seconds)
{
    return Eventually([this] { return !Running(); }, seconds);
}

void ChildProcess::Stop()
{
    if (m_pid <= 0) return;
    kill(-m_pid, SIGTERM);
    waitpid(m_pid, nullptr, 0);
    Eventually([this] { return kill(-m_pid, 0) != 0; }, 3);  // the rest of its group
    m_pid = -1;
}

std::string CommandOutput(const std::string& command)
{
    std::string output;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        std::array<char, 4096> buffer;
        while (const std::size_t n = fread(buffer.data(), 1, buffer.size(), pipe)) output.append(buffer.data(), n);
        pclose(pipe);
    }
    return output;
}

}  // namespace castorn_test
