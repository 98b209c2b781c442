#include "castorn/LingeringWork.h"

#include <pthread.h>

#include <algorithm>
#include <condition_variable>
#include <cstdlib>
#include <list>
#include <mutex>
#include <string>
#include <thread>

namespace castorn {

namespace {

class Registry {
public:
    // Never destroyed: a thread that outlives every wait must not be joined at exit.
    static Registry& Instance()
    {
        static auto* registry = new Registry;
        return *registry;
    }

    void Start(const char* threadName, std::function<void()> work)
    {
        std::lock_guard lock(m_mutex);
        JoinEnded();
        if (!m_exitHook) m_exitHook = std::atexit([] { Instance().Await(LingeringWork::kExitGrace); }) == 0;
        Piece& piece = m_pieces.emplace_back();
        piece.thread = std::thread([this, &piece, name = std::string(threadName), work = std::move(work)] {
            pthread_setname_np(pthread_self(), name.substr(0, 15).c_str());
            work();
            {
                std::lock_guard lock(m_mutex);
                piece.ended = true;
            }
            m_ended.notify_all();
        });
    }

    bool Await(std::chrono::milliseconds limit)
    {
        const auto caller = std::this_thread::get_id();
        const auto othersEnded = [this, caller] {
            return std::all_of(m_pieces.begin(), m_pieces.end(),
                               [caller](const Piece& piece) { return piece.ended || piece.thread.get_id() == caller; });
        };
        std::unique_lock lock(m_mutex);
        const bool ended = m_ended.wait_for(lock, limit, othersEnded);
        JoinEnded();
        return ended;
    }

private:
    struct Piece {
        std::thread thread;
        bool ended = false;
    };

    void JoinEnded()
    {
        std::erase_if(m_pieces, [](Piece& piece) {
            if (!piece.ended) return false;
            piece.thread.join();
            return true;
        });
    }

    std::mutex m_mutex;
    std::condition_variable m_ended;
    std::list<Piece> m_pieces;  // a list: each thread holds on to its own element
    bool m_exitHook = false;
};

}  // namespace

void LingeringWork::Start(const char* threadName, std::function<void()> work)
{
    Registry::Instance().Start(threadName, std::move(work));
}

bool LingeringWork::Await(std::chrono::milliseconds limit)
{
    return Registry::Instance().Await(limit);
}

}  // namespace castorn
