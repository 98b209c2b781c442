// Work that may outlive whoever started it: a source opening that a device holds up,
// an engine released while a peer hangs. Each piece runs on a thread of its own,
// joined once it has ended, so that nothing is left once the peer answers or goes.
// At the process's exit, work still running gets a short while to end.
#pragma once

#include <chrono>
#include <functional>

namespace castorn {

class LingeringWork {
public:
    static void Start(const char* threadName, std::function<void()> work);
    // Up to `limit`, waits for the work of other threads than the caller's to end;
    // true when none runs.
    static bool Await(std::chrono::milliseconds limit);

    static constexpr std::chrono::milliseconds kExitGrace{3000};
};

}  // namespace castorn
