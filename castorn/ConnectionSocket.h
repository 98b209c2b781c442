// The TCP socket under a connection that the RTMP element makes and keeps to itself,
// found by its peer's port among the process's sockets. What waits in it counts as
// backlog (the kernel holds seconds of a slow uplink there), and a connection given up
// is reset rather than left to drain its old data into the server.
#pragma once

#include "castorn/StaleSession.h"

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <optional>

namespace castorn {

class ConnectionSocket {
public:
    ConnectionSocket() = default;
    ~ConnectionSocket();  // gives up its claim
    ConnectionSocket(const ConnectionSocket&) = delete;
    ConnectionSocket& operator=(const ConnectionSocket&) = delete;

    // Claims the one connected stream socket to `peerPort` that no other claims; false
    // while there is none, or more than one to choose from.
    bool Find(int peerPort);
    bool Found() const { return m_fd >= 0; }
    // Bytes written into it that the peer has not acknowledged yet; empty when it is gone.
    std::optional<std::uint64_t> Unacknowledged() const;
    // The shortest round trip seen on it.
    std::optional<std::chrono::microseconds> MinRoundTrip() const;
    // The kernel keeps about `bytes` in it, no more: without a bound it grows to seconds of
    // a slow uplink, which no later decision can take back.
    void BoundBuffer(int bytes) const;
    // Its close discards what waits and resets the connection.
    void DiscardOnClose() const;
    // Its two ends, for ending the server's side should the reset be lost.
    std::optional<StaleSession> Session() const;

private:
    bool Same() const;  // the descriptor still holds the socket claimed

    int m_fd = -1;
    ino_t m_inode = 0;
};

}  // namespace castorn
