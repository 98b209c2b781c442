#include "support/SoundServer.h"

#include "support/Command.h"
#include "support/Files.h"
#include "support/ToneMeter.h"
#include "support/WaitUntil.h"

#include <json/reader.h>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>

namespace fs = std::filesystem;

namespace test_support {

namespace {

std::string MicrophoneModule(SoundServer::Microphone microphone)
{
    return microphone == SoundServer::Microphone::SinkMonitor
               ? "load-module module-null-sink sink_name=mic_sink sink_properties=device.description=FakeMicSink\n"
                 "set-default-source mic_sink.monitor\n"
               : "load-module module-null-source source_name=mic description=FakeMic\n"
                 "set-default-source mic\n";
}

}  // namespace

SoundServer::SoundServer(Microphone microphone, Kind kind) : m_kind(kind)
{
    fs::create_directories(m_dir / "home");
    fs::create_directories(m_dir / "run");
    WriteFile(m_dir / "test.pa",
              "load-module module-native-protocol-unix auth-anonymous=1 socket=" + (m_dir / "native") +
                  "\nload-module module-null-sink sink_name=player_sink sink_properties=device.description=PlayerSink\n"
                  "set-default-sink player_sink\n" +
                  MicrophoneModule(microphone));
    setenv("PULSE_SERVER", ("unix:" + (m_dir / (kind == Kind::PipeWire ? "run/pulse/native" : "native"))).c_str(), 1);
    Start();
}

SoundServer::~SoundServer()
{
    Stop();
    unsetenv("PULSE_SERVER");
}

bool SoundServer::Installed(Kind kind)
{
    if (kind == Kind::PulseAudio) return test_support::Installed("pulseaudio");
    for (const char* program : {"pipewire-pulse", "wireplumber", "dbus-run-session"})
        if (!test_support::Installed(program)) return false;
    return true;
}

void SoundServer::Start()
{
    if (m_kind == Kind::PipeWire) return StartPipeWire();
    fs::remove(m_dir / "native");
    m_server = std::make_unique<ChildProcess>(
        std::vector<std::string>{"pulseaudio", "-n", "-F", m_dir / "test.pa", "--daemonize=no", "--exit-idle-time=-1",
                                 "--disallow-exit", "--use-pid-file=no"},
        ChildProcess::Options{.env = {"HOME=" + (m_dir / "home"), "XDG_RUNTIME_DIR=" + (m_dir / "run")}});
    if (!WaitUntil([this] { return Pactl("info").find("Server Name") != std::string::npos; }))
        throw std::runtime_error("the test sound server did not start");
}

void SoundServer::StartPipeWire()
{
    fs::permissions(m_dir / "run", fs::perms::owner_all);
    m_server = std::make_unique<ChildProcess>(
        std::vector<std::string>{"dbus-run-session", "--", "sh", "-c",
                                 "pipewire & sleep 0.3; wireplumber & pipewire-pulse & wait"},
        ChildProcess::Options{.env = {"HOME=" + (m_dir / "home"), "XDG_RUNTIME_DIR=" + (m_dir / "run")}});
    if (!WaitUntil([this] { return Pactl("info").find("PipeWire") != std::string::npos; }))
        throw std::runtime_error("the test PipeWire server did not start");
    Pactl("load-module module-null-sink sink_name=player_sink");
    if (!KeepDefaultSink()) throw std::runtime_error("the test PipeWire server has no output");
}

// PipeWire's session manager may make a new output the default a moment later.
bool SoundServer::KeepDefaultSink()
{
    return WaitUntil([this] {
        Pactl("set-default-sink player_sink");
        return Pactl("info").find("Default Sink: player_sink") != std::string::npos;
    });
}

void SoundServer::AddSink(const std::string& name)
{
    Pactl("load-module module-null-sink sink_name=" + name);
    WaitUntil([&] { return Pactl("list sinks short").find(name) != std::string::npos; });
    KeepDefaultSink();
}

void SoundServer::Stop()
{
    m_server.reset();
}

std::string SoundServer::Pactl(const std::string& args) const
{
    return CommandOutput("pactl " + args + " 2>&1");
}

Json::Value SoundServer::List(const std::string& what) const
{
    Json::Value list;
    Json::Reader().parse(Pactl("-f json list " + what), list);
    return list.isArray() ? list : Json::Value(Json::arrayValue);
}

std::string SoundServer::InputOf(const std::string& player) const
{
    for (const Json::Value& input : List("sink-inputs"))
        if (input["properties"]["application.name"].asString() == player)
            return std::to_string(input["index"].asUInt());
    return {};
}

std::string SoundServer::SinkOf(const std::string& player) const
{
    for (const Json::Value& input : List("sink-inputs")) {
        if (input["properties"]["application.name"].asString() != player) continue;
        for (const Json::Value& sink : List("sinks"))
            if (sink["index"] == input["sink"]) return sink["name"].asString();
    }
    return {};
}

bool SoundServer::HoldsAnythingOfOurs() const
{
    const std::string all = Pactl("list modules") + Pactl("list sinks") + Pactl("list sources") +
                            Pactl("list sink-inputs") + Pactl("list source-outputs");
    return all.find("castorn") != std::string::npos || all.find("module-loopback") != std::string::npos;
}

TonePlayer::TonePlayer(const std::string& name, const std::string& sink, double volume)
    : ChildProcess(Arguments(name, sink, volume))
{}

std::vector<std::string> TonePlayer::Arguments(const std::string& name, const std::string& sink, double volume)
{
    std::vector<std::string> args{"gst-launch-1.0", "-q", "audiotestsrc", "is-live=true"};
    args.insert(args.end(), {"freq=" + std::to_string(kToneHz), "volume=" + std::to_string(volume), "!", "pulsesink",
                             "client-name=" + name});
    if (!sink.empty()) args.push_back("device=" + sink);
    return args;
}

}  // namespace test_support
