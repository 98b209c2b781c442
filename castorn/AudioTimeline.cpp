#include "castorn/AudioTimeline.h"

#include <algorithm>
#include <cmath>

namespace castorn {

namespace {

constexpr double kNanoseconds = 1e9;

std::int64_t Nanoseconds(double seconds)
{
    return std::llround(seconds * kNanoseconds);
}

}  // namespace

AudioTimeline::AudioTimeline(int nominalRate) : m_nominalRate(nominalRate) {}

AudioTimeline::Stamp AudioTimeline::Next(std::int64_t samples, std::int64_t sourcePts, std::int64_t arrival,
                                         bool discont)
{
    const double nominal = samples / m_nominalRate;
    const double sourceStart = sourcePts / kNanoseconds;
    if (!m_started) {
        m_next = sourceStart;
        m_started = true;
    } else if (discont && sourceStart > m_sourceEnd) {
        // Samples lost: they count as delivered, and leave a gap their length.
        m_counted += sourceStart - m_sourceEnd;
        m_next += sourceStart - m_sourceEnd;
    }
    m_sourceEnd = sourceStart + nominal;
    m_counted += nominal;
    const double lead = arrival / kNanoseconds - m_counted;
    m_windowLead = m_windowOpen ? std::min(m_windowLead, lead) : lead;
    if (!m_windowOpen) m_windowEnd = m_counted + kWindowSeconds;
    m_windowOpen = m_counted < m_windowEnd;
    if (!m_windowOpen && m_counted > kWarmUpSeconds) CloseWindow();

    double duration = nominal * (1 + m_slope);
    if (!m_points.empty()) {
        // Where this buffer's last sample arrived at the earliest.
        const double behind = m_counted + FitAt(m_counted) - (m_next + duration);
        if (!m_aligned)
            m_next += behind;
        else
            duration += std::clamp(behind, -kMaxSlew * nominal, kMaxSlew * nominal);
        m_aligned = true;
    }
    const Stamp stamp{Nanoseconds(m_next), Nanoseconds(duration)};
    m_next += duration;
    return stamp;
}

void AudioTimeline::CloseWindow()
{
    const double x = m_counted, y = m_windowLead;
    if (!m_points.empty()) {
        if (y - FitAt(x) > kLateSeconds && ++m_lateWindows <= kLateWindowsIgnored) {
            return;  // held up under load: not the source's clock
        }
    }
    m_lateWindows = 0;
    const double keep = std::exp(-kWindowSeconds / kMemorySeconds);
    m_w = m_w * keep + 1;
    m_x = m_x * keep + x;
    m_y = m_y * keep + y;
    m_xx = m_xx * keep + x * x;
    m_xy = m_xy * keep + x * y;
    m_points.push_back({x, y});
    while (m_points.front().counted < x - kMemorySeconds) m_points.pop_front();
    const double variance = m_w * m_xx - m_x * m_x;
    if (m_points.size() * kWindowSeconds >= kSettleSeconds && variance > 0)
        m_slope = std::clamp((m_w * m_xy - m_x * m_y) / variance, -kMaxSkew, kMaxSkew);
    // The line at that rate through the earliest of the points.
    m_floor = y - m_slope * x;
    for (const auto& point : m_points) m_floor = std::min(m_floor, point.lead - m_slope * point.counted);
}

double AudioTimeline::FitAt(double nominal) const
{
    return m_floor + m_slope * nominal;
}

}  // namespace castorn
