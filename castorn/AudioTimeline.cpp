#include "castorn/AudioTimeline.h"

#include <algorithm>
#include <cmath>

namespace castorn {

namespace {

constexpr double kNanoseconds = 1e9;

std::int64_t Nanoseconds(double seconds) { return std::llround(seconds * kNanoseconds); }

}  // namespace

AudioTimeline::AudioTimeline(int nominalRate) : m_nominalRate(nominalRate) {}

AudioTimeline::Stamp AudioTimeline::Next(std::int64_t samples, std::int64_t sourcePts, std::int64_t arrival)
{
    const double nominal = samples / m_nominalRate;
    if (!m_started) {
        m_next = sourcePts / kNanoseconds;
        m_started = true;
    }
    m_counted += nominal;
    const double lead = arrival / kNanoseconds - m_counted;
    m_windowLead = m_windowOpen ? std::min(m_windowLead, lead) : lead;
    if (!m_windowOpen) m_windowEnd = m_counted + kWindowSeconds;
    m_windowOpen = m_counted < m_windowEnd;
    if (!m_windowOpen && m_counted > kWarmUpSeconds) CloseWindow();

    double duration = nominal * (1 + m_slope);
    if (!m_lagKnown && m_points > 0) {
        // From here on the timestamps keep the distance to the arrivals they had at first.
        m_lag = m_counted + FitAt(m_counted) - (m_next + duration);
        m_lagKnown = true;
    }
    if (m_lagKnown) {
        const double behind = m_counted + FitAt(m_counted) - m_lag - (m_next + duration);
        if (std::abs(behind) > kJumpSeconds)
            m_next += behind;
        else
            duration += std::clamp(behind, -kMaxSlew * nominal, kMaxSlew * nominal);
    }
    const Stamp stamp{Nanoseconds(m_next), Nanoseconds(duration)};
    m_next += duration;
    return stamp;
}

void AudioTimeline::CloseWindow()
{
    const double x = m_counted, y = m_windowLead;
    if (m_points > 0) {
        const double deviation = y - FitAt(x);
        if (std::abs(deviation) > kJumpSeconds) {
            // Samples lost, or a stall longer than a window: the line moves, the rate stays.
            m_y += m_w * deviation;
            m_xy += m_x * deviation;
            m_lastLead = y;
        } else if (deviation > kLateSeconds && ++m_lateWindows <= kLateWindowsIgnored) {
            return;  // held up under load: not the source's clock
        }
    }
    m_lateWindows = 0;
    const double keep = std::exp(-kWindowSeconds / kMemorySeconds);
    ++m_points;
    m_w = m_w * keep + 1;
    m_x = m_x * keep + x;
    m_y = m_y * keep + y;
    m_xx = m_xx * keep + x * x;
    m_xy = m_xy * keep + x * y;
    m_lastLead = y;
    const double variance = m_w * m_xx - m_x * m_x;
    m_settled = m_points * kWindowSeconds >= kSettleSeconds && variance > 0;
    if (m_settled) m_slope = std::clamp((m_w * m_xy - m_x * m_y) / variance, -kMaxSkew, kMaxSkew);
}

double AudioTimeline::FitAt(double nominal) const
{
    return m_settled ? m_y / m_w + m_slope * (nominal - m_x / m_w) : m_lastLead;
}

}  // namespace castorn
