// How a level meter moves: up at once to a louder level, held a moment, then down at
// a steady rate, so that a level reported a few times a second reads as steady and
// the meter is at rest within a second after the reports stop. A peak mark does the
// same with a longer hold.
#pragma once

#include <chrono>

class LevelBallistics {
public:
    using TimePoint = std::chrono::steady_clock::time_point;

    static constexpr std::chrono::milliseconds kLevelHold{250};  // beyond the engine's report interval
    static constexpr std::chrono::milliseconds kPeakHold{400};
    static constexpr double kFallPerSecond = 250;  // percent

    void Report(int percent, TimePoint at);
    void Reset();
    int Level(TimePoint now) const { return m_level.At(now, kLevelHold); }
    int Peak(TimePoint now) const { return m_peak.At(now, kPeakHold); }

private:
    struct Mark {
        int percent = 0;
        TimePoint since;
        int At(TimePoint now, std::chrono::milliseconds hold) const;
        void Raise(int to, TimePoint at, std::chrono::milliseconds hold);
    };

    Mark m_level;
    Mark m_peak;
};
