// Delays between connection attempts: 2 s, growing by half each time, up to 30 s,
// and back to the start once a connection holds.
#pragma once

#include <chrono>

namespace castorn {

class ReconnectBackoff {
public:
    std::chrono::milliseconds Next();  // the delay before the next attempt
    void Reset() { m_attempts = 0; }
    int Attempts() const { return m_attempts; }

    static constexpr std::chrono::milliseconds kFirst{2000};
    static constexpr std::chrono::milliseconds kLongest{30000};

private:
    int m_attempts = 0;
};

}  // namespace castorn
