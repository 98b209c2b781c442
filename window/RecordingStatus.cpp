#include "window/RecordingStatus.h"

#include "interface/EngineInterface.h"

#include <algorithm>

namespace n = castorn_notification;

QString ElapsedClock(std::chrono::milliseconds elapsed)
{
    const long long seconds = std::max<long long>(0, elapsed.count() / 1000);
    return QString::asprintf("%02lld:%02lld:%02lld", seconds / 3600, seconds / 60 % 60, seconds % 60);
}

void RecordingStatus::Apply(const EngineEvent& event, TimePoint at)
{
    switch (event.kind) {
    case EngineEventKind::RecordingStarted:
        *this = RecordingStatus();
        m_state = State::Recording;
        m_since = at;
        m_path = event.path;
        break;
    case EngineEventKind::RecordingStopped:
        if (m_state == State::Recording && event.path == m_path) *this = RecordingStatus();
        break;
    case EngineEventKind::RecordingFailed:
        m_state = State::Failed;
        m_path = event.path;
        m_reason = event.reason;
        m_message = event.message;
        break;
    default: break;
    }
}

QString RecordingStatus::Line(TimePoint now) const
{
    switch (m_state) {
    case State::None: return {};
    case State::Recording:
        return QString::fromUtf8("录制中 ") +
               ElapsedClock(std::chrono::duration_cast<std::chrono::milliseconds>(now - m_since));
    case State::Failed:
        if (m_reason == n::kRecordingDiskFull) return QString::fromUtf8("录制失败：磁盘已满");
        return QString::fromUtf8("录制失败：无法写入 ") + QString::fromUtf8(m_path);
    }
    return {};
}

QString RecordingStatus::ToolTip() const
{
    switch (m_state) {
    case State::None: return {};
    case State::Recording: return QString::fromUtf8(m_path);
    case State::Failed: return QString::fromUtf8(m_path + ": " + m_message);
    }
    return {};
}
