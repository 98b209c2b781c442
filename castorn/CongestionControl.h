// How hard the connection is pressed and what the stream does about it, decided
// every poll from two measures: the backlog in time (the newest media encoded
// minus the oldest not yet taken by the network) and the bytes the network has
// taken. The video bitrate follows what the connection carries, never above the
// operator's own; past a second of backlog video is left out until it drains.
// Sound is never left out.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>

namespace castorn {

class CongestionControl {
public:
    using Clock = std::chrono::steady_clock;
    using Ms = std::chrono::milliseconds;

    struct Settings {
        int videoKbps = 0;  // the operator's rate: the ceiling
        int audioKbps = 0;
        bool adaptive = true;  // false: the rate stays; only dropping keeps the delay bounded
    };

    // The lowest video rate asked of the encoder.
    static constexpr int kMinVideoKbps = 100;
    // A backlog this long means the connection no longer keeps up.
    static constexpr Ms kCongestedBacklog{300};
    // Below this the connection keeps up with room to spare.
    static constexpr Ms kClearBacklog{100};
    // Video is left out past the first, and taken again below the second.
    static constexpr Ms kDropAbove{800};
    static constexpr Ms kResumeBelow{300};

    explicit CongestionControl(Settings settings);

    // A new connection: its counts start again; the rate learnt so far is kept.
    void Restart(Clock::time_point now, std::uint64_t delivered);
    // `delivered`: the connection's bytes the network has taken so far; `waiting`: those
    // handed on that it has not taken yet.
    void Update(Clock::time_point now, Ms backlog, std::uint64_t delivered, std::uint64_t waiting);

    int VideoKbps() const { return m_rate; }
    int SetKbps() const { return m_settings.videoKbps; }
    int AudioKbps() const { return m_settings.audioKbps; }
    bool DropVideo() const { return m_drop; }
    // The connection cannot carry the stream as set, or could not a moment ago.
    bool Congested() const;
    Ms Backlog() const { return m_backlog; }  // the delay ahead of what is made now
    int ThroughputKbps() const;               // what the network took over the last seconds

private:
    struct Point {
        Clock::time_point at;
        std::uint64_t bytes;
    };

    void Measure(Clock::time_point now, std::uint64_t delivered);
    void Lower(Clock::time_point now);
    void Raise(Clock::time_point now);
    void Adapt(Clock::time_point now);

    Settings m_settings;
    int m_rate;
    bool m_drop = false;
    Ms m_backlog{0};
    Clock::time_point m_lastUpdate{};
    std::deque<Point> m_points;
    std::optional<Clock::time_point> m_congestedUntil;
    std::optional<Clock::time_point> m_clearSince;
    Clock::time_point m_nextLower{};
    Clock::time_point m_nextRaise{};
    // The last raise, and the rate before it, while it is on trial.
    std::optional<Clock::time_point> m_raisedAt;
    int m_rateBeforeRaise = 0;
    Ms m_probeWait;
};

}  // namespace castorn
