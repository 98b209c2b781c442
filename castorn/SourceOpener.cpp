#include "castorn/SourceOpener.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <utility>
#include <vector>

namespace castorn {

struct SourceOpener::Attempt {
    std::mutex mutex;
    GstElement* bin = nullptr;
    std::optional<bool> opened;
    bool abandoned = false;
    bool ended = false;  // guarded by the mutex of AbandonedAttempts
};

namespace {

void Discard(GstElement* bin)
{
    gst_element_set_state(bin, GST_STATE_NULL);
    gst_object_unref(bin);
}

// The threads of attempts whose openers are gone, joined once they have ended.
class AbandonedAttempts {
public:
    // Never destroyed: a thread that outlives every wait must not be joined at exit.
    static AbandonedAttempts& Instance()
    {
        static auto* attempts = new AbandonedAttempts;
        return *attempts;
    }

    void Add(std::thread thread, std::shared_ptr<SourceOpener::Attempt> attempt)
    {
        std::lock_guard lock(m_mutex);
        JoinEnded();
        m_threads.emplace_back(std::move(thread), std::move(attempt));
    }

    void End(SourceOpener::Attempt& attempt)
    {
        {
            std::lock_guard lock(m_mutex);
            attempt.ended = true;
        }
        m_ended.notify_all();
    }

    bool Await(std::chrono::milliseconds limit)
    {
        std::unique_lock lock(m_mutex);
        m_ended.wait_for(lock, limit, [this] {
            return std::all_of(m_threads.begin(), m_threads.end(), [](const auto& run) { return run.second->ended; });
        });
        JoinEnded();
        return m_threads.empty();
    }

private:
    void JoinEnded()
    {
        std::erase_if(m_threads, [](auto& run) {
            if (!run.second->ended) return false;
            run.first.join();
            return true;
        });
    }

    std::mutex m_mutex;
    std::condition_variable m_ended;
    std::vector<std::pair<std::thread, std::shared_ptr<SourceOpener::Attempt>>> m_threads;
};

}  // namespace

SourceOpener::SourceOpener(GstElement* bin) : m_attempt(std::make_shared<Attempt>())
{
    m_attempt->bin = bin;
    m_thread = std::thread(&SourceOpener::Run, m_attempt);
}

SourceOpener::~SourceOpener()
{
    GstElement* bin = nullptr;
    {
        std::lock_guard lock(m_attempt->mutex);
        m_attempt->abandoned = true;
        if (m_attempt->opened) bin = std::exchange(m_attempt->bin, nullptr);
        // otherwise the attempt discards it when done
    }
    if (bin) Discard(bin);
    AbandonedAttempts::Instance().Add(std::move(m_thread), m_attempt);
}

void SourceOpener::Run(std::shared_ptr<Attempt> attempt)
{
    // Paused is as far as a live source goes alone: the device is open, nothing flows.
    const bool opened = gst_element_set_state(attempt->bin, GST_STATE_PAUSED) != GST_STATE_CHANGE_FAILURE;
    GstElement* discard = nullptr;
    {
        std::lock_guard lock(attempt->mutex);
        attempt->opened = opened;
        if (attempt->abandoned || !opened) discard = std::exchange(attempt->bin, nullptr);
    }
    if (discard) Discard(discard);
    AbandonedAttempts::Instance().End(*attempt);
}

std::optional<bool> SourceOpener::Opened() const
{
    std::lock_guard lock(m_attempt->mutex);
    return m_attempt->opened;
}

GstElement* SourceOpener::Take()
{
    std::lock_guard lock(m_attempt->mutex);
    return std::exchange(m_attempt->bin, nullptr);
}

bool SourceOpener::AwaitAbandoned(std::chrono::milliseconds limit)
{
    return AbandonedAttempts::Instance().Await(limit);
}

}  // namespace castorn
