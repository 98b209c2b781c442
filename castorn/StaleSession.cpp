#include "castorn/StaleSession.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <unistd.h>

#include <cerrno>

namespace castorn {

namespace {

socklen_t LengthOf(const sockaddr_storage& address)
{
    return address.ss_family == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
}

bool Inet(const sockaddr_storage& address)
{
    return address.ss_family == AF_INET || address.ss_family == AF_INET6;
}

}  // namespace

std::optional<StaleSession> StaleSession::Of(int fd)
{
    StaleSession session;
    socklen_t length = sizeof session.local;
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&session.local), &length) != 0) return std::nullopt;
    length = sizeof session.peer;
    if (getpeername(fd, reinterpret_cast<sockaddr*>(&session.peer), &length) != 0) return std::nullopt;
    if (!Inet(session.local) || session.local.ss_family != session.peer.ss_family) return std::nullopt;
    return session;
}

bool StaleSession::End() const
{
    const int fd = socket(local.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    const int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    const bool sent = bind(fd, reinterpret_cast<const sockaddr*>(&local), LengthOf(local)) == 0 &&
                      (connect(fd, reinterpret_cast<const sockaddr*>(&peer), LengthOf(peer)) == 0 ||
                       errno == EINPROGRESS);
    // Closed at once: the server's answer finds no connection here, which is what makes
    // the kernel reset the old one.
    close(fd);
    return sent;
}

}  // namespace castorn
