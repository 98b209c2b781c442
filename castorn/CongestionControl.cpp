#include "castorn/CongestionControl.h"

#include <algorithm>

namespace castorn {

namespace {

using Ms = CongestionControl::Ms;

// The rate is what the network took over about this long.
constexpr Ms kRateWindow{1000};
// A rate needs at least this much of it.
constexpr Ms kShortestRateSpan{500};
// Of what the connection carries, the share the video is given after the sound: the rest
// is the margin for framing, key frames and the connection's own ups and downs.
constexpr int kMarginPercent = 85;
// After a cut the backlog takes a while to show it: no second cut before this.
constexpr Ms kLowerHold{1000};
// A raise comes after this long without backlog, and this long after the last raise.
constexpr Ms kClearBeforeRaise{1000};
constexpr Ms kRaiseEvery{800};
// A raise is taken back when the backlog passes the first within the second.
constexpr Ms kFailedRaiseBacklog{200};
constexpr Ms kRaiseTrial{3000};
// The wait before probing upwards after congestion; doubled by each raise taken back.
constexpr Ms kShortestProbeWait{2000};
constexpr Ms kLongestProbeWait{4000};
constexpr int kRaisePercent = 130;
constexpr int kSmallestRaiseKbps = 50;
// How long congestion stays told once the backlog has gone.
constexpr Ms kCongestionShown{2000};

}  // namespace

CongestionControl::CongestionControl(Settings settings)
    : m_settings(settings), m_rate(settings.videoKbps), m_probeWait(kShortestProbeWait)
{}

void CongestionControl::Restart(Clock::time_point now, std::uint64_t delivered)
{
    m_points.assign(1, {now, delivered});
    m_drop = false;
    m_backlog = Ms(0);
    m_clearSince.reset();
    m_raisedAt.reset();
}

void CongestionControl::Update(Clock::time_point now, Ms backlog, std::uint64_t delivered, std::uint64_t waiting)
{
    m_lastUpdate = now;
    Measure(now, delivered);
    // On a connection slower than the stream, what waits takes longer to go than it took
    // to make: the delay ahead is the longer of the two.
    const int throughput = ThroughputKbps();
    const Ms drain(throughput > 0 ? static_cast<std::int64_t>(waiting * 8 / static_cast<std::uint64_t>(throughput))
                                  : 0);
    m_backlog = std::max(backlog, drain);
    backlog = m_backlog;
    if (backlog >= kDropAbove)
        m_drop = true;
    else if (backlog < kResumeBelow)
        m_drop = false;
    if (backlog >= kCongestedBacklog) m_congestedUntil = now + kCongestionShown;
    if (m_settings.adaptive) Adapt(now);
}

bool CongestionControl::Congested() const
{
    return m_drop || m_rate < m_settings.videoKbps || (m_congestedUntil && m_lastUpdate < *m_congestedUntil);
}

void CongestionControl::Measure(Clock::time_point now, std::uint64_t delivered)
{
    if (!m_points.empty() && delivered < m_points.back().bytes) m_points.clear();  // another connection's count
    m_points.push_back({now, delivered});
    // Keep the newest point at or before the window's start, so the rate covers all of it.
    while (m_points.size() > 2 && m_points[1].at <= now - kRateWindow) m_points.pop_front();
}

int CongestionControl::ThroughputKbps() const
{
    if (m_points.size() < 2) return 0;
    const auto span = std::chrono::duration_cast<Ms>(m_points.back().at - m_points.front().at);
    if (span < kShortestRateSpan) return 0;
    // Bits per millisecond are kilobits per second.
    return static_cast<int>((m_points.back().bytes - m_points.front().bytes) * 8 /
                            static_cast<std::uint64_t>(span.count()));
}

void CongestionControl::Adapt(Clock::time_point now)
{
    if (m_backlog >= kClearBacklog)
        m_clearSince.reset();
    else if (!m_clearSince)
        m_clearSince = now;
    if (m_raisedAt && m_backlog >= kFailedRaiseBacklog) {
        // The connection did not carry the raise: back, and probe less often.
        m_rate = std::min(m_rate, m_rateBeforeRaise);
        m_raisedAt.reset();
        m_probeWait = std::min(m_probeWait * 2, kLongestProbeWait);
        m_nextRaise = now + m_probeWait;
    } else if (m_raisedAt && now - *m_raisedAt >= kRaiseTrial) {
        m_raisedAt.reset();
        m_probeWait = kShortestProbeWait;
    }
    if (m_backlog >= kCongestedBacklog)
        Lower(now);
    else if (m_clearSince && now - *m_clearSince >= kClearBeforeRaise && now >= m_nextRaise)
        Raise(now);
}

void CongestionControl::Lower(Clock::time_point now)
{
    m_nextRaise = std::max(m_nextRaise, now + m_probeWait);
    const int throughput = ThroughputKbps();
    if (now < m_nextLower || throughput <= 0) return;
    // While a backlog waits the connection is full: what it takes is what it carries.
    const int target = std::clamp(throughput * kMarginPercent / 100 - m_settings.audioKbps,
                                  std::min(kMinVideoKbps, m_settings.videoKbps), m_settings.videoKbps);
    if (target >= m_rate) return;
    m_rate = target;
    m_nextLower = now + kLowerHold;
}

void CongestionControl::Raise(Clock::time_point now)
{
    if (m_rate >= m_settings.videoKbps) return;
    m_rateBeforeRaise = m_rate;
    m_raisedAt = now;
    m_rate = std::min(m_settings.videoKbps, std::max(m_rate + kSmallestRaiseKbps, m_rate * kRaisePercent / 100));
    m_nextRaise = now + kRaiseEvery;
}

}  // namespace castorn
