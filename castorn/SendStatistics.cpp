#include "castorn/SendStatistics.h"

namespace castorn {

void SendStatistics::Begin(Clock::time_point at, std::uint64_t bytesWritten)
{
    m_live = at;
    m_points.assign(1, {at, bytesWritten});
}

Json::Value SendStatistics::Sample(Clock::time_point at, const SenderCounters& counters)
{
    m_points.push_back({at, counters.bytesWritten});
    // Keep the newest point at or before the window's start, so the rate covers all of it.
    while (m_points.size() > 2 && m_points[1].at <= at - kRateWindow) m_points.pop_front();
    Json::Value params(Json::objectValue);
    params["liveMs"] =
        static_cast<Json::Int64>(std::chrono::duration_cast<std::chrono::milliseconds>(at - m_live).count());
    params["kbps"] = Kbps();
    params["framesSent"] = static_cast<Json::Int64>(counters.framesSent);
    params["framesDropped"] = static_cast<Json::Int64>(counters.framesDropped);
    params["bytesQueued"] = static_cast<Json::Int64>(counters.bytesQueued);
    return params;
}

int SendStatistics::Kbps() const
{
    if (m_points.size() < 2) return 0;
    const Point& first = m_points.front();
    const Point& last = m_points.back();
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(last.at - first.at).count();
    if (ms <= 0 || last.bytes < first.bytes) return 0;
    // Bits per millisecond are kilobits per second.
    return static_cast<int>((last.bytes - first.bytes) * 8 / static_cast<std::uint64_t>(ms));
}

}  // namespace castorn
