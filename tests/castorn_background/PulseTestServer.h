// A private PulseAudio server for one test: a null output as the operator's
// speakers ("player_sink") and a silent microphone ("mic"), reached by every
// client of this process and its children through PULSE_SERVER.
// The microphone is a null source, not the monitor of an idle null sink: such a
// monitor stalls for up to two seconds, and a pipeline that takes its clock from
// it drops the other sound it mixes.
#pragma once

#include <json/json.h>

#include <memory>
#include <string>

#include "ChildProcess.h"

namespace castorn_test {

enum class SoundServer { PulseAudio, PipeWire };

class PulseTestServer {
public:
    // PipeWire runs with its session manager and its PulseAudio server, on a
    // private D-Bus session; it has no microphone here.
    explicit PulseTestServer(SoundServer kind = SoundServer::PulseAudio);
    static bool Installed(SoundServer kind);
    ~PulseTestServer();
    PulseTestServer(const PulseTestServer&) = delete;
    PulseTestServer& operator=(const PulseTestServer&) = delete;

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
    // Another output beside the speakers, which stay the default.
    void AddSink(const std::string& name);
    // Whether anything of the engine's (sinks, loopbacks, streams) is on the server.
    bool HoldsAnythingOfOurs() const;

private:
    void StartPipeWire();
    bool KeepDefaultSink();

    SoundServer m_kind;
    std::string m_dir;
    std::unique_ptr<ChildProcess> m_server;
};

// A program playing a 1 kHz tone at 0.8 of full scale under the given application name.
class TonePlayer : public ChildProcess {
public:
    explicit TonePlayer(const std::string& name);
};

}  // namespace castorn_test
