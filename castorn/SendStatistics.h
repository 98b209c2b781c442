// The figures of "OnStatistics" for one connection: time since it went live,
// the rate that went onto the wire over the last seconds, frames and queue.
#pragma once

#include <json/value.h>

#include <chrono>
#include <cstdint>
#include <deque>

namespace castorn {

// What a sender has counted so far on its connection.
struct SenderCounters {
    std::uint64_t bytesWritten = 0;  // onto the wire, RTMP framing included
    std::int64_t framesSent = 0;
    std::int64_t framesDropped = 0;
    std::uint64_t bytesQueued = 0;
};

// How the connection keeps up, as the engine loop sees it.
struct SenderFlow {
    std::chrono::milliseconds behind{0};  // the newest media made minus the oldest still waiting
    std::uint64_t delivered = 0;          // bytes the network has taken (acknowledged, when the socket is seen)
    std::uint64_t waiting = 0;            // bytes handed on but not yet taken
};

class SendStatistics {
public:
    using Clock = std::chrono::steady_clock;

    // The server took the publish at `at`, when `bytesWritten` had gone out.
    void Begin(Clock::time_point at, std::uint64_t bytesWritten);
    // The params of one OnStatistics at `at`.
    Json::Value Sample(Clock::time_point at, const SenderCounters& counters);

    // The rate is what went out over about this long.
    static constexpr std::chrono::seconds kRateWindow{3};

private:
    struct Point {
        Clock::time_point at;
        std::uint64_t bytes;
    };

    int Kbps() const;

    Clock::time_point m_live;
    std::deque<Point> m_points;
};

}  // namespace castorn
