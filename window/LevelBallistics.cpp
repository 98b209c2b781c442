#include "window/LevelBallistics.h"

#include <algorithm>
#include <cmath>

int LevelBallistics::Mark::At(TimePoint now, std::chrono::milliseconds hold) const
{
    const double falling = std::chrono::duration<double>(now - since - hold).count();
    if (falling <= 0) return percent;
    return std::max(0, static_cast<int>(std::ceil(percent - falling * kFallPerSecond)));
}

// A quieter report leaves the mark falling: restarting its hold would keep it up.
void LevelBallistics::Mark::Raise(int to, TimePoint at, std::chrono::milliseconds hold)
{
    if (to < At(at, hold)) return;
    percent = to;
    since = at;
}

void LevelBallistics::Report(int percent, TimePoint at)
{
    m_level.Raise(percent, at, kLevelHold);
    m_peak.Raise(percent, at, kPeakHold);
}

void LevelBallistics::Reset()
{
    m_level = {};
    m_peak = {};
}
