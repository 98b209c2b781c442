#include "window/NotificationHandoff.h"

#include <QMetaObject>
#include <algorithm>

NotificationHandoff::NotificationHandoff(QObject* receiver, std::function<void(PendingEvents)> deliver)
    : m_receiver(receiver), m_deliver(std::move(deliver))
{}

void NotificationHandoff::Push(EngineEvent event)
{
    const auto now = std::chrono::steady_clock::now();
    std::lock_guard lock(m_mutex);
    if (event.kind == EngineEventKind::AudioPercent) {
        m_pending.loudest = std::max(m_pending.loudest.value_or(0), event.percent);
    } else if (event.kind == EngineEventKind::Statistics && !m_pending.events.empty() &&
               m_pending.events.back().event.kind == EngineEventKind::Statistics) {
        m_pending.events.back() = {std::move(event), now};  // only the latest figures count
    } else {
        if (m_pending.events.size() == kMaxWaiting) m_pending.events.pop_front();
        m_pending.events.push_back({std::move(event), now});
    }
    if (m_scheduled) return;
    m_scheduled = true;
    QMetaObject::invokeMethod(
        m_receiver, [this] { Deliver(); }, Qt::QueuedConnection);
}

void NotificationHandoff::Deliver()
{
    PendingEvents pending;
    {
        std::lock_guard lock(m_mutex);
        std::swap(pending, m_pending);
        m_scheduled = false;
    }
    m_deliver(std::move(pending));
}
