// Waiting for something a test cannot be told about: `done` is asked again every
// step until it holds or `limit` has passed. Limits are generous: they bound a
// failure, not the speed of a pass.
#pragma once

#include <chrono>
#include <thread>

namespace test_support {

inline constexpr std::chrono::milliseconds kWaitStep{20};
inline constexpr std::chrono::milliseconds kWaitLimit{10000};

// `between` runs after each refusal (the window's tests let Qt handle its events there).
template <class Done, class Between>
bool WaitUntil(Done done, std::chrono::milliseconds limit, Between between)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        between();
    }
    return true;
}

template <class Done>
bool WaitUntil(Done done, std::chrono::milliseconds limit = kWaitLimit)
{
    return WaitUntil(done, limit, [] { std::this_thread::sleep_for(kWaitStep); });
}

}  // namespace test_support
