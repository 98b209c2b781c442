// The thread that owns the sound-server connection. Callers only record what they
// want and wake it; it brings the server in line, again after every change there
// (a player starting or leaving, a stream moved, the server restarting).
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>

#include "castorn/background/CaptureSinkName.h"
#include "castorn/background/CaptureState.h"
#include "castorn/background/PlayerRoute.h"
#include "castorn/background/PulseSession.h"

namespace castorn {

class CaptureThread {
public:
    using Notify = std::function<void(const std::string& json)>;

    CaptureThread(Notify notify, const CaptureSinkOwner& owner);
    ~CaptureThread();
    CaptureThread(const CaptureThread&) = delete;
    CaptureThread& operator=(const CaptureThread&) = delete;

    void SelectPlayer(const std::string& name);
    void Enable(bool on);
    // The name of the capture sink's monitor, which is made soon after.
    std::string StartCapture();
    void StopCapture();  // the route goes soon after; a later StartCapture waits for it

private:
    struct Wish {
        std::string player;
        bool enabled = false;
        bool capturing = false;
        bool quit = false;
        std::uint64_t serial = 0;
    };

    template <class Change>
    void Ask(Change change);
    bool WishChangedSince(std::uint64_t serial);
    void Run();
    CaptureState Apply(const Wish& wish);
    void Announce(const Wish& wish, CaptureState state);

    Notify m_notify;
    PulseSession m_session;
    PlayerRoute m_route;
    std::mutex m_mutex;
    Wish m_wish;                                                      // guarded by m_mutex
    std::optional<std::pair<CaptureState, std::string>> m_announced;  // worker only
    std::thread m_thread;
};

}  // namespace castorn
