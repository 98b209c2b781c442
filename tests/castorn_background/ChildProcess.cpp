#include "ChildProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <stdexcept>
#include <string_view>

extern char** environ;

namespace castorn_test {

namespace {

bool Overridden(const std::vector<std::string>& env, const char* var) {
    const std::string_view text(var);
    const std::string_view name = text.substr(0, text.find('='));
    for (const auto& entry : env)
        if (std::string_view(entry).substr(0, entry.find('=')) == name) return true;
    return false;
}

}  // namespace

ChildProcess::ChildProcess(const std::vector<std::string>& args, const std::vector<std::string>& env,
                           const std::string& workingDir) {
    std::vector<std::string> fullEnv(env);
    for (char** var = environ; *var; ++var)
        if (!Overridden(env, *var)) fullEnv.emplace_back(*var);
    std::vector<char*> argv, envp;
    for (const auto& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    for (const auto& var : fullEnv) envp.push_back(const_cast<char*>(var.c_str()));
    argv.push_back(nullptr);
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    if (!workingDir.empty()) posix_spawn_file_actions_addchdir_np(&actions, workingDir.c_str());
    const int error = posix_spawnp(&m_pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0) throw std::runtime_error("cannot start " + args[0]);
}

ChildProcess::~ChildProcess() { Stop(); }

bool ChildProcess::Running() {
    if (m_pid > 0 && waitpid(m_pid, nullptr, WNOHANG) == m_pid) m_pid = -1;
    return m_pid > 0;
}

bool ChildProcess::AwaitExit(double seconds) {
    return Eventually([this] { return !Running(); }, seconds);
}

void ChildProcess::Stop() {
    if (m_pid <= 0) return;
    kill(m_pid, SIGTERM);
    waitpid(m_pid, nullptr, 0);
    m_pid = -1;
}

std::string CommandOutput(const std::string& command) {
    std::string output;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        std::array<char, 4096> buffer;
        while (const std::size_t n = fread(buffer.data(), 1, buffer.size(), pipe)) output.append(buffer.data(), n);
        pclose(pipe);
    }
    return output;
}

}  // namespace castorn_test
