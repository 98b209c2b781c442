#include "castorn/background/CaptureThread.h"

#include <chrono>

namespace castorn {

namespace {

// Changes on the server wake the thread at once; this only paces retries after
// the server went away, and a look now and then in case an event was missed.
constexpr std::chrono::milliseconds kIdle{1000};

}  // namespace

CaptureThread::CaptureThread(Notify notify, const CaptureSinkOwner& owner)
    : m_notify(std::move(notify)), m_route(m_session, owner), m_thread([this] { Run(); })
{}

CaptureThread::~CaptureThread()
{
    Ask([](Wish& wish) { wish.quit = true; });
    m_thread.join();
}

template <class Change>
void CaptureThread::Ask(Change change)
{
    {
        std::lock_guard lock(m_mutex);
        change(m_wish);
        ++m_wish.serial;
    }
    m_session.Wake();
}

void CaptureThread::SelectPlayer(const std::string& name)
{
    Ask([&name](Wish& wish) { wish.player = name; });
}

void CaptureThread::Enable(bool on)
{
    Ask([on](Wish& wish) { wish.enabled = on; });
}

std::string CaptureThread::StartCapture()
{
    Ask([](Wish& wish) { wish.capturing = true; });
    // Named before it is made, and all the same when the sound server is not there: the
    // pipeline opens it once it is.
    return m_route.SourceName();
}

void CaptureThread::StopCapture()
{
    Ask([](Wish& wish) { wish.capturing = false; });
}

bool CaptureThread::WishChangedSince(std::uint64_t serial)
{
    std::lock_guard lock(m_mutex);
    return m_wish.serial != serial;
}

void CaptureThread::Run()
{
    for (;;) {
        Wish wish;
        {
            std::lock_guard lock(m_mutex);
            wish = m_wish;
        }
        if (wish.quit) break;
        const CaptureState state = Apply(wish);
        Announce(wish, state);
        // A wake-up that came while a request was under way was taken by that
        // request's wait: look at the wish before sleeping.
        if (!WishChangedSince(wish.serial)) m_session.Wait(kIdle);
    }
    m_route.Close();
    m_session.Disconnect();
}

CaptureState CaptureThread::Apply(const Wish& wish)
{
    if (!wish.capturing) {
        m_route.Close();
        m_session.Disconnect();
        return CaptureState::Off;
    }
    if (!m_session.Connected()) {
        m_route.Forget();  // whatever we had went with the old connection's server
        if (!m_session.Connect()) return CaptureState::Unavailable;
    }
    if (!m_route.IsOpen() && !m_route.Open()) return CaptureState::Unavailable;
    return m_route.Sync(wish.player, wish.enabled);
}

void CaptureThread::Announce(const Wish& wish, CaptureState state)
{
    if (!wish.capturing) {
        m_announced.reset();  // the next time on air starts with a fresh report
        return;
    }
    std::pair<CaptureState, std::string> now{state, wish.player};
    if (m_announced == now) return;
    m_announced = std::move(now);
    if (m_notify) m_notify(CaptureStateMessage(state, wish.player));
}

}  // namespace castorn
