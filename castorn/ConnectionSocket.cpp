#include "castorn/ConnectionSocket.h"

#include <dirent.h>
#include <linux/sockios.h>
#include <netinet/in.h>
#include <linux/tcp.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <cstddef>
#include <cstdlib>
#include <mutex>
#include <set>
#include <vector>

namespace castorn {

namespace {

// Sockets claimed by the process's connections, by inode: a descriptor number may be
// reused, an inode is not while its socket lives.
std::mutex g_claimsMutex;
std::set<ino_t> g_claims;

std::optional<ino_t> SocketInode(int fd)
{
    struct stat status {};
    if (fstat(fd, &status) != 0 || !S_ISSOCK(status.st_mode)) return std::nullopt;
    return status.st_ino;
}

bool StreamTo(int fd, int peerPort)
{
    int type = 0;
    socklen_t length = sizeof type;
    if (getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &length) != 0 || type != SOCK_STREAM) return false;
    sockaddr_storage peer{};
    length = sizeof peer;
    if (getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &length) != 0) return false;
    if (peer.ss_family == AF_INET) return ntohs(reinterpret_cast<sockaddr_in*>(&peer)->sin_port) == peerPort;
    if (peer.ss_family == AF_INET6) return ntohs(reinterpret_cast<sockaddr_in6*>(&peer)->sin6_port) == peerPort;
    return false;
}

struct Candidate {
    int fd;
    ino_t inode;
};

std::vector<Candidate> Unclaimed(int peerPort)
{
    std::vector<Candidate> found;
    DIR* dir = opendir("/proc/self/fd");
    if (!dir) return found;
    while (const dirent* entry = readdir(dir)) {
        char* end = nullptr;
        const long fd = std::strtol(entry->d_name, &end, 10);
        if (end == entry->d_name || *end != '\0' || fd == dirfd(dir)) continue;
        const auto inode = SocketInode(static_cast<int>(fd));
        if (inode && !g_claims.contains(*inode) && StreamTo(static_cast<int>(fd), peerPort))
            found.push_back({static_cast<int>(fd), *inode});
    }
    closedir(dir);
    return found;
}

}  // namespace

ConnectionSocket::~ConnectionSocket()
{
    if (m_fd < 0) return;
    std::lock_guard lock(g_claimsMutex);
    g_claims.erase(m_inode);
}

bool ConnectionSocket::Find(int peerPort)
{
    if (m_fd >= 0) return true;
    std::lock_guard lock(g_claimsMutex);
    const std::vector<Candidate> found = Unclaimed(peerPort);
    if (found.size() != 1) return false;
    m_fd = found.front().fd;
    m_inode = found.front().inode;
    g_claims.insert(m_inode);
    return true;
}

bool ConnectionSocket::Same() const
{
    return m_fd >= 0 && SocketInode(m_fd) == m_inode;
}

std::optional<std::uint64_t> ConnectionSocket::Unacknowledged() const
{
    int waiting = 0;
    if (!Same() || ioctl(m_fd, SIOCOUTQ, &waiting) != 0 || waiting < 0) return std::nullopt;
    return static_cast<std::uint64_t>(waiting);
}

std::optional<std::chrono::microseconds> ConnectionSocket::MinRoundTrip() const
{
    tcp_info info{};
    socklen_t length = sizeof info;
    if (!Same() || getsockopt(m_fd, IPPROTO_TCP, TCP_INFO, &info, &length) != 0 ||
        length < offsetof(tcp_info, tcpi_min_rtt) + sizeof info.tcpi_min_rtt || info.tcpi_min_rtt == 0)
        return std::nullopt;
    return std::chrono::microseconds(info.tcpi_min_rtt);
}

void ConnectionSocket::BoundBuffer(int bytes) const
{
    const int buffer = bytes / 2;  // the kernel doubles it for its own use
    if (Same()) setsockopt(m_fd, SOL_SOCKET, SO_SNDBUF, &buffer, sizeof buffer);
}

std::optional<StaleSession> ConnectionSocket::Session() const
{
    return Same() ? StaleSession::Of(m_fd) : std::nullopt;
}

void ConnectionSocket::DiscardOnClose() const
{
    if (!Same()) return;
    const linger now{1, 0};
    setsockopt(m_fd, SOL_SOCKET, SO_LINGER, &now, sizeof now);
}

}  // namespace castorn
