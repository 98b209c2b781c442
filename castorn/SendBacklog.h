// How far a connection lags behind the capture, in time: the media tags it took, with
// their times and sizes, against the bytes still waiting for the network. The capture's
// streaming thread adds; the engine loop asks.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>

namespace castorn {

class SendBacklog {
public:
    // Any media tag made, sent or left out: the newest time there is.
    void Encoded(std::uint32_t timeMs);
    // A media tag handed on towards the network.
    void Queued(std::uint32_t timeMs, std::size_t bytes);
    // With `waiting` bytes not yet taken by the network (the newest ones): the newest
    // time made minus the oldest still waiting.
    std::chrono::milliseconds Behind(std::uint64_t waiting);

private:
    struct Tag {
        std::uint32_t timeMs;
        std::size_t bytes;
    };

    std::mutex m_mutex;
    std::optional<std::uint32_t> m_newest;
    std::deque<Tag> m_tags;
};

}  // namespace castorn
