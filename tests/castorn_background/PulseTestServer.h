// A private PulseAudio server for one test: two null outputs (the operator's
// speakers "player_sink" and a silent microphone "mic_sink"), reached by every
// client of this process and its children through PULSE_SERVER.
#pragma once

#include <sys/types.h>

#include <json/json.h>

#include <chrono>
#include <string>
#include <thread>

namespace castorn_test {

class PulseTestServer {
public:
    PulseTestServer();
    ~PulseTestServer();
    PulseTestServer(const PulseTestServer&) = delete;
    PulseTestServer& operator=(const PulseTestServer&) = delete;

    bool Running() const { return m_pid > 0; }
    void Start();
    void Stop();

    // Output of `pactl ARGS` against this server.
    std::string Pactl(const std::string& args) const;
    // `pactl list WHAT` as JSON: an array of objects.
    Json::Value List(const std::string& what) const;
    // The first stream of that application: its index, and the name of its sink;
    // empty when it plays nothing.
    std::string InputOf(const std::string& player) const;
    std::string SinkOf(const std::string& player) const;

private:
    std::string m_dir;
    pid_t m_pid = -1;
};

// A program playing a 1 kHz tone forever under the given application name.
class TonePlayer {
public:
    explicit TonePlayer(const std::string& name);
    ~TonePlayer();
    TonePlayer(const TonePlayer&) = delete;
    TonePlayer& operator=(const TonePlayer&) = delete;

    void Stop();

private:
    pid_t m_pid = -1;
};

struct Level {
    double rms = 0;        // 0..1 of full scale
    double frequency = 0;  // from zero crossings, Hz
};

// Records a short while from a source of the test server.
Level MeasureSource(const std::string& source);

// Runs `check` until it returns true or `seconds` pass; returns its last result.
template <class Check>
bool Eventually(Check check, double seconds = 5.0) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!check()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return true;
}

}  // namespace castorn_test
