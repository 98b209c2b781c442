#include "castorn/SendBacklog.h"

namespace castorn {

void SendBacklog::Encoded(std::uint32_t timeMs)
{
    std::lock_guard lock(m_mutex);
    m_newest = timeMs;
}

void SendBacklog::Queued(std::uint32_t timeMs, std::size_t bytes)
{
    std::lock_guard lock(m_mutex);
    m_tags.push_back({timeMs, bytes});
}

std::chrono::milliseconds SendBacklog::Behind(std::uint64_t waiting)
{
    std::lock_guard lock(m_mutex);
    if (waiting == 0 || m_tags.empty() || !m_newest) {
        m_tags.clear();
        return std::chrono::milliseconds(0);
    }
    // From the newest back, until the waiting bytes are accounted for; older ones are gone.
    std::uint64_t counted = 0;
    auto oldest = m_tags.end();
    while (oldest != m_tags.begin() && counted < waiting) counted += (--oldest)->bytes;
    m_tags.erase(m_tags.begin(), oldest);
    const std::int64_t behind = std::int64_t{*m_newest} - std::int64_t{oldest->timeMs};
    return std::chrono::milliseconds(behind > 0 ? behind : 0);
}

}  // namespace castorn
