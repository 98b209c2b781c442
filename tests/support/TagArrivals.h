// When each FLV tag of a publication reached the server: the recordings nginx writes as
// tags come in are read as they grow, every few milliseconds, on a thread of their own.
// A reconnect starts a new recording, and a new count of times.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace test_support {

struct TagArrival {
    std::chrono::steady_clock::time_point at;
    int recording = 0;  // 0 for the first publication, 1 for the next...
    bool audio = false;
    bool key = false;  // a video key frame
    std::uint32_t timeMs = 0;
    std::uint32_t bytes = 0;
};

using ArrivalTime = std::chrono::steady_clock::time_point;

// What arrived between two times.
struct ArrivalFigures {
    double videoFps = 0;
    double kbps = 0;       // media bytes, without framing
    double maxDelay = 0;   // seconds; see Delays
    double lastDelay = 0;  // of the last tag in the span
};

// Per tag: how much later than its time said it came, in seconds, beyond the quickest
// tag of its publication (a delay of 0 is as quick as the connection ever was).
std::vector<double> Delays(const std::vector<TagArrival>& tags);
ArrivalFigures FiguresBetween(const std::vector<TagArrival>& tags, ArrivalTime from, ArrivalTime to);
// The share of the sound's time that arrived (1: not an audio frame missing), and the
// longest step between audio tags in milliseconds.
double SoundKept(const std::vector<TagArrival>& tags, double& longestStepMs);

class TagArrivals {
public:
    explicit TagArrivals(std::string recordingsDir);
    ~TagArrivals();
    TagArrivals(const TagArrivals&) = delete;
    TagArrivals& operator=(const TagArrivals&) = delete;

    std::vector<TagArrival> Tags() const;

private:
    struct Reader {
        std::string path;
        std::uint64_t offset = 13;  // past the file's header
    };

    void Watch();
    void ReadNew(Reader& reader, int recording);

    std::string m_dir;
    mutable std::mutex m_mutex;
    std::vector<TagArrival> m_tags;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

}  // namespace test_support
