// The engine's own thread: a GLib main loop on a private context that runs the
// tasks posted to it in order, the pipelines' bus watches and the timers. The
// caller's thread only posts; everything that can wait on the network or the
// sound server happens here.
#pragma once

#include <glib.h>

#include <chrono>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace castorn {

class EngineLoop {
public:
    using Task = std::function<void()>;

    EngineLoop();
    ~EngineLoop();  // runs the tasks already posted, then joins the thread
    EngineLoop(const EngineLoop&) = delete;
    EngineLoop& operator=(const EngineLoop&) = delete;

    void Post(Task task);  // any thread
    bool OnLoopThread() const;

    // Loop thread only. Cancel takes the id of a pending timer, or 0; a one-shot
    // timer's task should clear its own id, since ids of removed sources can return.
    guint After(std::chrono::milliseconds delay, Task task);
    guint Every(std::chrono::milliseconds period, Task task);
    void Cancel(guint& id);

    GMainContext* Context() const { return m_context; }

private:
    guint AddTimer(std::chrono::milliseconds delay, Task task, bool repeat);
    void Run();
    static gboolean Drain(gpointer self);

    GMainContext* m_context;
    GMainLoop* m_loop;
    std::mutex m_mutex;
    std::deque<Task> m_tasks;
    std::thread m_thread;
};

}  // namespace castorn
