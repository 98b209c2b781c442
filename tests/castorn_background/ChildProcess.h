// A program started for a test, ended (SIGTERM, then waited for) when it goes.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace castorn_test {

class ChildProcess {
public:
    // `env` entries ("NAME=value") override the test's own environment.
    explicit ChildProcess(const std::vector<std::string>& args, const std::vector<std::string>& env = {},
                          const std::string& workingDir = {});
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool Running();
    // Waits up to `seconds` for the program to end by itself; false if it did not.
    bool AwaitExit(double seconds);
    // How it ended by itself: its exit status, or -1 (running, stopped, or killed by a signal).
    int ExitStatus() const { return m_status; }
    void Stop();

private:
    pid_t m_pid = -1;
    int m_status = -1;
};

// Output of a shell command line.
std::string CommandOutput(const std::string& command);

// Runs `check` until it returns true or `seconds` pass; returns its last result.
template <class Check>
bool Eventually(Check check, double seconds = 5.0)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!check()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return true;
}

}  // namespace castorn_test
