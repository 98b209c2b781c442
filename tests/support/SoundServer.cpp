#include "support/SoundServer.h"

#include "support/Command.h"
#include "support/Files.h"
#include "support/ToneMeter.h"
#include "support/WaitUntil.h"

#include <signal.h>
#include <json/reader.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <stdexcept>

namespace fs = std::filesystem;

namespace test_support {

namespace {

// The outputs and the microphone, as commands of the server's own (one a line).
std::string Devices(SoundServer::Microphone microphone, SoundServer::Kind kind)
{
    // PipeWire's PulseAudio server has no null source: a null sink made a source stands in.
    const std::string nullSource = kind == SoundServer::Kind::PipeWire
                                       ? "load-module module-null-sink sink_name=mic "
                                         "sink_properties=media.class=Audio/Source/Virtual\n"
                                       : "load-module module-null-source source_name=mic description=FakeMic\n";
    return "load-module module-null-sink sink_name=player_sink sink_properties=device.description=PlayerSink\n"
           "set-default-sink player_sink\n" +
           (microphone == SoundServer::Microphone::SinkMonitor
                ? "load-module module-null-sink sink_name=mic_sink sink_properties=device.description=FakeMicSink\n"
                  "set-default-source mic_sink.monitor\n"
                : nullSource + "set-default-source mic\n");
}

// The session manager without what needs a session bus or touches the machine's own
// devices (sound cards, cameras, Bluetooth, the portal): only what routes streams.
constexpr const char* kSessionManagerSetup = R"(load_module("metadata")
default_access.properties["enable-flatpak-portal"] = false
default_access.enable()
device_defaults.enable()
stream_defaults.enable()
load_script("intended-roles.lua")
load_script("suspend-node.lua")
)";

}  // namespace

SoundServer::SoundServer(Microphone microphone, Kind kind) : m_kind(kind), m_devices(Devices(microphone, kind))
{
    fs::create_directories(m_dir / "home");
    WriteFile(m_dir / "test.pa", "load-module module-native-protocol-unix auth-anonymous=1 socket=" +
                                     (m_dir / "native") + "\n" + m_devices);
    const fs::path sessionManager = m_dir / "config/wireplumber";
    fs::create_directories(sessionManager / "main.lua.d");
    fs::create_directories(sessionManager / "bluetooth.lua.d");
    WriteFile(sessionManager / "main.lua.d/90-enable-all.lua", kSessionManagerSetup);
    WriteFile(sessionManager / "bluetooth.lua.d/90-enable-all.lua", "");
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
    for (const char* program : {"pipewire", "wireplumber", "pipewire-pulse"})
        if (!test_support::Installed(program)) return false;
    return true;
}

void SoundServer::Start()
{
    // Empty: a server killed at its end leaves sockets and locks that would stand for the new one.
    fs::remove_all(m_dir / "run");
    fs::create_directories(m_dir / "run");
    fs::permissions(m_dir / "run", fs::perms::owner_all);
    if (m_kind == Kind::PipeWire) return StartPipeWire();
    fs::remove(m_dir / "native");
    Launch({"pulseaudio", "-n", "-F", m_dir / "test.pa", "--daemonize=no", "--exit-idle-time=-1", "--disallow-exit",
            "--use-pid-file=no"});
    if (!WaitUntil([this] { return Pactl("info").find("Server Name") != std::string::npos; }))
        throw std::runtime_error("the test sound server did not start");
}

// The graph, its session manager and its PulseAudio server, all in the test's folders.
void SoundServer::StartPipeWire()
{
    Launch({"pipewire"});
    if (!WaitUntil([this] { return fs::exists(m_dir / "run/pipewire-0"); }))
        throw std::runtime_error("the test PipeWire server did not start");
    Launch({"wireplumber"});
    Launch({"pipewire-pulse"});
    if (!WaitUntil([this] { return Pactl("info").find("PipeWire") != std::string::npos; }))
        throw std::runtime_error("the test PipeWire server has no PulseAudio server");
    std::istringstream commands(m_devices);
    for (std::string command; std::getline(commands, command);) Pactl(command);
    if (!KeepDefaultSink()) throw std::runtime_error("the test PipeWire server has no output");
}

// Nothing of the user's own session is reached: no session bus, no other server.
void SoundServer::Launch(const std::vector<std::string>& command)
{
    m_servers.push_back(std::make_unique<ChildProcess>(
        command,
        ChildProcess::Options{.env = {"HOME=" + (m_dir / "home"), "XDG_RUNTIME_DIR=" + (m_dir / "run"),
                                      "XDG_CONFIG_HOME=" + (m_dir / "config"), "XDG_STATE_HOME=" + (m_dir / "state")},
                              .unsetEnv = {"DBUS_SESSION_BUS_ADDRESS", "PIPEWIRE_REMOTE", "PIPEWIRE_RUNTIME_DIR",
                                           "PULSE_RUNTIME_PATH", "PULSE_SERVER"}}));
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

void SoundServer::Freeze(bool on)
{
    for (const auto& server : m_servers) server->Signal(on ? SIGSTOP : SIGCONT);
}

void SoundServer::Stop()
{
    while (!m_servers.empty()) m_servers.pop_back();  // the last started ends first
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
    return SinkOfStream("application.name", player);
}

std::string SoundServer::SinkOfStream(const std::string& property, const std::string& value) const
{
    for (const Json::Value& input : List("sink-inputs")) {
        if (input["properties"][property].asString() != value) continue;
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
