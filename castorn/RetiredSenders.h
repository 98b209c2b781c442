// Senders let go of while their connection was still being set up. rtmp2sink
// stopped at that moment abandons the attempt and keeps its socket and main
// context open for good, so each is kept until its attempt is over, then stopped.
#pragma once

#include <glib.h>

#include <chrono>
#include <memory>
#include <vector>

namespace castorn {

class EngineLoop;
class RtmpSender;

class RetiredSenders {
public:
    explicit RetiredSenders(EngineLoop& loop);
    ~RetiredSenders();  // stops those still waiting as they are
    RetiredSenders(const RetiredSenders&) = delete;
    RetiredSenders& operator=(const RetiredSenders&) = delete;

    // Loop thread only.
    void Add(std::unique_ptr<RtmpSender> sender);
    std::size_t Waiting() const { return m_retired.size(); }

    // rtmp2sink gives up on a silent server after 5 s; this is for one that never does.
    static constexpr std::chrono::seconds kWaitLimit{15};

private:
    struct Retired {
        std::unique_ptr<RtmpSender> sender;
        std::chrono::steady_clock::time_point deadline;
    };

    void Sweep();

    EngineLoop& m_loop;
    std::vector<Retired> m_retired;
    guint m_sweepTimer = 0;
};

}  // namespace castorn
