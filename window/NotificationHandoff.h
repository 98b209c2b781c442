// Engine events from any thread to the window's thread: pushing never waits for the
// window, and however many arrive between two turns of its event loop, the window is
// called once for all of them.
#pragma once

#include "window/EngineNotifications.h"

#include <QObject>
#include <chrono>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>

struct TimedEvent {
    EngineEvent event;
    std::chrono::steady_clock::time_point at;  // when the engine sent it
};

// What arrived since the last turn: the events in order, and the loudest level.
struct PendingEvents {
    std::deque<TimedEvent> events;
    std::optional<int> loudest;
};

class NotificationHandoff {
public:
    // `receiver` lives on the window's thread; `deliver` runs there.
    NotificationHandoff(QObject* receiver, std::function<void(PendingEvents)> deliver);

    void Push(EngineEvent event);  // any thread

    // Beyond this many waiting, the oldest are dropped: only a flood gets there, and
    // the newest say what the stream is doing now.
    static constexpr std::size_t kMaxWaiting = 512;

private:
    void Deliver();

    QObject* m_receiver;
    std::function<void(PendingEvents)> m_deliver;
    std::mutex m_mutex;
    PendingEvents m_pending;
    bool m_scheduled = false;
};
