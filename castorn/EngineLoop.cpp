#include "castorn/EngineLoop.h"

#include <pthread.h>

namespace castorn {

namespace {

struct Timer {
    EngineLoop::Task task;
    bool repeat;
};

gboolean FireTimer(gpointer data)
{
    auto* timer = static_cast<Timer*>(data);
    timer->task();
    return timer->repeat ? G_SOURCE_CONTINUE : G_SOURCE_REMOVE;
}

void FreeTimer(gpointer data)
{
    delete static_cast<Timer*>(data);
}

}  // namespace

EngineLoop::EngineLoop() : m_context(g_main_context_new()), m_loop(g_main_loop_new(m_context, FALSE))
{
    m_thread = std::thread([this] { Run(); });
}

EngineLoop::~EngineLoop()
{
    Post([this] { g_main_loop_quit(m_loop); });
    m_thread.join();
    g_main_loop_unref(m_loop);
    g_main_context_unref(m_context);
}

bool EngineLoop::OnLoopThread() const
{
    return std::this_thread::get_id() == m_thread.get_id();
}

void EngineLoop::Run()
{
    pthread_setname_np(pthread_self(), "castorn-loop");
    g_main_context_push_thread_default(m_context);
    g_main_loop_run(m_loop);
    g_main_context_pop_thread_default(m_context);
}

void EngineLoop::Post(Task task)
{
    {
        std::lock_guard lock(m_mutex);
        m_tasks.push_back(std::move(task));
    }
    // A source even on the loop thread itself: a task never runs inside another. At the
    // default priority, as the timers and bus watches: a stop must not wait behind them.
    GSource* source = g_idle_source_new();
    g_source_set_priority(source, G_PRIORITY_DEFAULT);
    g_source_set_callback(source, &EngineLoop::Drain, this, nullptr);
    g_source_attach(source, m_context);
    g_source_unref(source);
}

gboolean EngineLoop::Drain(gpointer data)
{
    auto* self = static_cast<EngineLoop*>(data);
    for (;;) {
        Task task;
        {
            std::lock_guard lock(self->m_mutex);
            if (self->m_tasks.empty()) return G_SOURCE_REMOVE;
            task = std::move(self->m_tasks.front());
            self->m_tasks.pop_front();
        }
        task();
    }
}

guint EngineLoop::After(std::chrono::milliseconds delay, Task task)
{
    return AddTimer(delay, std::move(task), false);
}

guint EngineLoop::Every(std::chrono::milliseconds period, Task task)
{
    return AddTimer(period, std::move(task), true);
}

guint EngineLoop::AddTimer(std::chrono::milliseconds delay, Task task, bool repeat)
{
    GSource* source = g_timeout_source_new(static_cast<guint>(delay.count()));
    g_source_set_callback(source, FireTimer, new Timer{std::move(task), repeat}, FreeTimer);
    const guint id = g_source_attach(source, m_context);
    g_source_unref(source);
    return id;
}

void EngineLoop::Cancel(guint& id)
{
    if (id == 0) return;
    if (GSource* source = g_main_context_find_source_by_id(m_context, id)) g_source_destroy(source);
    id = 0;
}

}  // namespace castorn
