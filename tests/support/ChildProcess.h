// A program started for a test, in a process group of its own: stopping it while it
// runs stops what it started. It is stopped (SIGTERM, then SIGKILL) when the object
// goes, and gets SIGTERM when the test process dies first.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

namespace test_support {

struct ChildOptions {
    std::vector<std::string> env = {};       // "NAME=value", over the test's own environment
    std::vector<std::string> unsetEnv = {};  // names left out of it
    std::string workingDir = {};
    std::string output = {};  // a file for its standard output; /dev/null when empty
    std::string errors = {};  // the same for its standard error
};

class ChildProcess {
public:
    using Options = ChildOptions;

    explicit ChildProcess(const std::vector<std::string>& args, const Options& options = {});
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t Pid() const { return m_pid; }
    void Signal(int signal) const;  // to its whole group
    bool Running();
    // Waits up to `limit` for it to end by itself; whether it did.
    bool AwaitExit(std::chrono::milliseconds limit);
    // How it ended, as waitpid tells it; -1 while it runs.
    int Status() const { return m_status; }
    void Stop();

private:
    pid_t m_pid = -1;
    bool m_ended = false;
    int m_status = -1;
};

}  // namespace test_support
