// A private sound server for one test, reached by this process and its children
// through PULSE_SERVER: a null output as the operator's speakers ("player_sink") and
// a microphone. Stopped and started again, it comes back at the same address.
#pragma once

#include "support/ChildProcess.h"
#include "support/TempDir.h"

#include <json/value.h>

#include <memory>
#include <string>
#include <vector>

namespace test_support {

class SoundServer {
public:
    enum class Microphone {
        // The monitor of the null output "mic_sink" (described "FakeMicSink"): what
        // plays into mic_sink is heard.
        SinkMonitor,
        // A silent null source "mic". Not the monitor of an idle null sink: such a
        // monitor stalls for up to two seconds, and a pipeline that takes its clock
        // from it drops the other sound it mixes.
        NullSource,
    };
    // PipeWire runs with its session manager and its PulseAudio server, without a
    // session bus, and with the same outputs and microphone.
    enum class Kind { PulseAudio, PipeWire };

    explicit SoundServer(Microphone microphone, Kind kind = Kind::PulseAudio);
    ~SoundServer();
    SoundServer(const SoundServer&) = delete;
    SoundServer& operator=(const SoundServer&) = delete;
    static bool Installed(Kind kind);

    void Start();
    void Stop();
    void Freeze(bool on);  // as a hung server: SIGSTOP, or SIGCONT

    // Output of `pactl ARGS` against this server.
    std::string Pactl(const std::string& args) const;
    // `pactl list WHAT` as JSON: an array of objects.
    Json::Value List(const std::string& what) const;
    // The first stream of that application: its index, and the name of its sink;
    // empty when it plays nothing.
    std::string InputOf(const std::string& player) const;
    std::string SinkOf(const std::string& player) const;
    // The same for the first stream whose `property` holds `value`.
    std::string SinkOfStream(const std::string& property, const std::string& value) const;
    // Another output beside the speakers, which stay the default.
    void AddSink(const std::string& name);
    // Whether anything of the engine's (sinks, loopbacks, streams) is on the server.
    bool HoldsAnythingOfOurs() const;

private:
    void StartPipeWire();
    void Launch(const std::vector<std::string>& command);
    bool KeepDefaultSink();

    Kind m_kind;
    TempDir m_dir;
    std::string m_devices;
    std::vector<std::unique_ptr<ChildProcess>> m_servers;
};

// A program playing a tone of kToneHz at `volume` of full scale into `sink` (the default
// output when empty) under the given application name.
class TonePlayer : public ChildProcess {
public:
    explicit TonePlayer(const std::string& name, const std::string& sink = {}, double volume = 0.8);

private:
    static std::vector<std::string> Arguments(const std::string& name, const std::string& sink, double volume);
};

}  // namespace test_support
