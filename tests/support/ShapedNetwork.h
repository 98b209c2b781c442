// A slow uplink on one machine: the test process moves into a network namespace of its
// own, whose loopback is shaped with a token bucket. Servers and engines the test starts
// afterwards live in it and talk over that loopback; nothing outside sees them.
#pragma once

#include <string>

namespace test_support {

class ShapedNetwork {
public:
    // Before any thread is started (a static initialiser): threads and children made
    // later share the namespace. False, with why, where it cannot be made (not root).
    static bool Enter(std::string& why);
    // The loopback carries at most `kbps` in each direction, with a modem's queue.
    static void Limit(int kbps);
    // Nothing gets through, not even a reset: an uplink gone. What waits is lost when
    // the limit is lifted.
    static void Cut();
    static void Unlimit();
    // Each socket's kernel keeps at most `bytes` received that its program has not read:
    // a stopped server stops acknowledging within seconds, as one whose buffer is full,
    // rather than taking minutes of a stream into a buffer that grows.
    static void BoundReceiveBuffers(int bytes);
};

}  // namespace test_support
