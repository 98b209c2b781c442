#include "support/ShapedNetwork.h"

#include "support/Command.h"

#include <sched.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <string>
#include <utility>
#include <stdexcept>

namespace test_support {

namespace {

bool s_limited = false;

void Run(const std::string& command)
{
    if (std::system((command + " 2>&1").c_str()) != 0) throw std::runtime_error("failed: " + command);
}

}  // namespace

bool ShapedNetwork::Enter(std::string& why)
{
    if (!Installed("ip") || !Installed("tc")) {
        why = "ip and tc are needed";
        return false;
    }
    if (unshare(CLONE_NEWNET) != 0) {
        why = std::string("no network namespace of its own: ") + std::strerror(errno);
        return false;
    }
    // A token bucket on a loopback of 64 KiB frames lets nothing through.
    if (std::system("ip link set lo mtu 1500 up") != 0) {
        why = "the namespace's loopback does not come up";
        return false;
    }
    return true;
}

void ShapedNetwork::Limit(int kbps)
{
    // About a quarter of a second of queue, as a home router keeps, then losses.
    Run("tc qdisc replace dev lo root tbf rate " + std::to_string(kbps) + "kbit burst 16kb latency 250ms");
    s_limited = true;
}

void ShapedNetwork::Cut()
{
    // Held rather than dropped: a packet dropped here would tell the sender's own kernel,
    // which then gives the connection up by itself, as no lost uplink makes it do.
    Run("tc qdisc replace dev lo root tbf rate 8bit burst 1600 limit 64mb");
    s_limited = true;
}

void ShapedNetwork::Unlimit()
{
    if (s_limited) Run("tc qdisc del dev lo root");
    s_limited = false;
}

void ShapedNetwork::BoundReceiveBuffers(int bytes)
{
    // Both are the namespace's own.
    const std::string size = std::to_string(bytes);
    for (const auto& [setting, value] :
         {std::pair<std::string, std::string>{"tcp_moderate_rcvbuf", "0"}, {"tcp_rmem", "4096 " + size + " " + size}}) {
        std::ofstream file("/proc/sys/net/ipv4/" + setting);
        if (!(file << value << std::flush)) throw std::runtime_error("cannot set " + setting);
    }
}

}  // namespace test_support
