// Our own publication the server still holds after the connection under it was given
// up while the uplink was gone: the reset we closed it with was lost on the way, and
// until the server's own timeout (a minute or more) it answers every new publish with
// "Already publishing". A connection opened from the very same address and port makes
// the server answer with an acknowledgement of the old session (a SYN inside a live
// connection is challenged), which our kernel, holding no such connection, answers
// with a reset that falls inside the server's window: the old session ends at once.
#pragma once

#include <sys/socket.h>

#include <optional>

namespace castorn {

struct StaleSession {
    sockaddr_storage local{};
    sockaddr_storage peer{};

    // The ends of a connected TCP socket; empty for anything else.
    static std::optional<StaleSession> Of(int fd);
    // Sends the SYN that ends the old session; never waits. False when it could not be sent.
    bool End() const;
};

}  // namespace castorn
