#include "support/ChildProcess.h"

#include "support/WaitUntil.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <stdexcept>

extern char** environ;

namespace test_support {

namespace {

// How long a stopped program has to end before it is killed.
constexpr std::chrono::seconds kStopGrace{5};

std::string NameOf(const std::string& entry)
{
    return entry.substr(0, entry.find('='));
}

// The test's environment, less what `options` unset or replace, plus what they set.
std::vector<std::string> Environment(const ChildProcess::Options& options)
{
    std::vector<std::string> environment = options.env;
    for (char** entry = environ; *entry; ++entry) {
        const std::string name = NameOf(*entry);
        const auto named = [&](const std::string& other) { return NameOf(other) == name; };
        if (std::ranges::none_of(options.env, named) && std::ranges::none_of(options.unsetEnv, named))
            environment.emplace_back(*entry);
    }
    return environment;
}

std::vector<char*> Pointers(std::vector<std::string>& texts)
{
    std::vector<char*> pointers;
    for (std::string& text : texts) pointers.push_back(text.data());
    pointers.push_back(nullptr);
    return pointers;
}

int OpenOutput(const std::string& file)
{
    return open(file.empty() ? "/dev/null" : file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
}

}  // namespace

ChildProcess::ChildProcess(const std::vector<std::string>& args, const Options& options)
{
    std::vector<std::string> arguments = args;
    std::vector<std::string> environment = Environment(options);
    const std::vector<char*> argv = Pointers(arguments);
    const std::vector<char*> envp = Pointers(environment);
    const pid_t parent = getpid();
    m_pid = fork();
    if (m_pid < 0) throw std::runtime_error("cannot start " + args[0]);
    if (m_pid > 0) {
        setpgid(m_pid, m_pid);  // as the child does: whichever comes first
        return;
    }
    // The test has threads: only async-signal-safe calls from here on.
    setpgid(0, 0);
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != parent) _exit(127);
    dup2(open("/dev/null", O_RDONLY), STDIN_FILENO);
    dup2(OpenOutput(options.output), STDOUT_FILENO);
    dup2(OpenOutput(options.errors), STDERR_FILENO);
    if (!options.workingDir.empty() && chdir(options.workingDir.c_str()) != 0) _exit(127);
    execvpe(argv[0], argv.data(), envp.data());
    _exit(127);
}

ChildProcess::~ChildProcess()
{
    Stop();
}

void ChildProcess::Signal(int signal) const
{
    kill(-m_pid, signal);
}

bool ChildProcess::Running()
{
    if (!m_ended && waitpid(m_pid, &m_status, WNOHANG) == m_pid) m_ended = true;
    return !m_ended;
}

bool ChildProcess::AwaitExit(std::chrono::milliseconds limit)
{
    return WaitUntil([this] { return !Running(); }, limit);
}

void ChildProcess::Stop()
{
    if (!Running()) return;  // what it started on its way out is left alone
    Signal(SIGCONT);         // a stopped one could not end
    Signal(SIGTERM);
    const bool ended = AwaitExit(kStopGrace) && WaitUntil([this] { return kill(-m_pid, 0) != 0; }, kStopGrace);
    if (!ended) Signal(SIGKILL);
    if (!m_ended && waitpid(m_pid, &m_status, 0) == m_pid) m_ended = true;
}

}  // namespace test_support
