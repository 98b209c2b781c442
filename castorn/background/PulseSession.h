// One connection to the sound server, driven from a single thread: every request
// waits for its answer, but never longer than a fixed deadline, so a stalled
// server cannot hold the caller.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct pa_context;
struct pa_mainloop;
struct pa_operation;
struct pa_stream;

namespace castorn {

struct SinkInput {
    std::uint32_t index;
    std::uint32_t sink;
    bool fromProgram;    // played by a client program, not by a module such as a loopback
    std::string player;  // UTF-8 application name; empty when it has none
};

// Marks streams we create ourselves, so that they are never taken for a player.
inline constexpr const char* kOwnStreamProperty = "castorn.route";
// On the session's own connection: the capture sink it owns, for as long as it is connected.
inline constexpr const char* kOwnerProperty = "castorn.capture-sink";

struct Sink {
    std::uint32_t index;
    std::string name;
};

struct LoadedModule {
    std::uint32_t index;
    std::string name;
    std::string argument;
};

class PulseSession {
public:
    PulseSession();
    ~PulseSession();
    PulseSession(const PulseSession&) = delete;
    PulseSession& operator=(const PulseSession&) = delete;

    // Connects to the user's server without spawning one, and follows changes of
    // streams, sinks, modules and the default sink so that Wait returns when they happen.
    bool Connect();
    // What the next connections carry as kOwnerProperty.
    void SetOwnerMark(std::string mark) { m_ownerMark = std::move(mark); }
    void Disconnect();
    bool Connected() const;

    // Runs the loop once: returns after server traffic, Wake, or the timeout.
    void Wait(std::chrono::milliseconds timeout);
    void Wake();  // any thread

    std::optional<std::vector<SinkInput>> SinkInputs();
    std::optional<std::vector<Sink>> Sinks();
    std::optional<std::vector<LoadedModule>> Modules();
    // The owner marks of every connection to the server, ours included.
    std::optional<std::vector<std::string>> OwnerMarks();
    std::optional<std::string> DefaultSink();
    std::optional<std::uint32_t> LoadModule(const std::string& name, const std::string& argument);
    bool UnloadModule(std::uint32_t index);
    bool MoveSinkInput(std::uint32_t input, std::uint32_t sink);
    bool MoveSinkInputToDefault(std::uint32_t input);

    // An idle null sink renders two seconds ahead, so a recorder or a player that
    // joins it waits that long to be heard. A corked low-latency stream of ours
    // on the sink keeps its blocks short until released (or the connection ends).
    bool HoldSinkResponsive(const std::string& sink);
    void ReleaseSink();

private:
    template <class Done>
    bool RunUntil(Done done, std::chrono::steady_clock::time_point deadline);
    bool Finish(pa_operation* op);

    pa_mainloop* m_loop;
    pa_context* m_context = nullptr;
    pa_stream* m_holder = nullptr;
    std::string m_ownerMark;
};

}  // namespace castorn
