// A peer of the test's own hung as by a stalled driver or a stopped server (SIGSTOP),
// and continued when this goes, whatever the test's assertions did meanwhile.
#pragma once

#include <utility>

namespace test_support {

template <class Peer>
class Frozen {
public:
    explicit Frozen(Peer& peer) : m_peer(&peer) { peer.Freeze(true); }
    ~Frozen() { Thaw(); }
    Frozen(const Frozen&) = delete;
    Frozen& operator=(const Frozen&) = delete;

    void Thaw()
    {
        if (m_peer) std::exchange(m_peer, nullptr)->Freeze(false);
    }

private:
    Peer* m_peer;
};

}  // namespace test_support
