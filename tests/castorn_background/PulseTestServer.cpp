#include "PulseTestServer.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace castorn_test {

PulseTestServer::PulseTestServer(SoundServer kind) : m_kind(kind)
{
    char pattern[] = "/tmp/pulse-test-XXXXXX";
    m_dir = mkdtemp(pattern);
    std::filesystem::create_directories(m_dir + "/home");
    std::filesystem::create_directories(m_dir + "/run");
    std::ofstream(m_dir + "/test.pa")
        << "load-module module-native-protocol-unix auth-anonymous=1 socket=" << m_dir << "/native\n"
        << "load-module module-null-sink sink_name=player_sink sink_properties=device.description=PlayerSink\n"
        << "load-module module-null-source source_name=mic description=FakeMic\n"
        << "set-default-sink player_sink\n"
        << "set-default-source mic\n";
    setenv("PULSE_SERVER",
           ("unix:" + m_dir + (kind == SoundServer::PipeWire ? "/run/pulse/native" : "/native")).c_str(), 1);
    Start();
}

bool PulseTestServer::Installed(SoundServer kind)
{
    if (kind == SoundServer::PulseAudio) return std::filesystem::exists("/usr/bin/pulseaudio");
    for (const char* program : {"/usr/bin/pipewire-pulse", "/usr/bin/wireplumber", "/usr/bin/dbus-run-session"})
        if (!std::filesystem::exists(program)) return false;
    return true;
}

PulseTestServer::~PulseTestServer()
{
    Stop();
    std::error_code ignored;
    std::filesystem::remove_all(m_dir, ignored);
}

void PulseTestServer::Start()
{
    if (m_kind == SoundServer::PipeWire) return StartPipeWire();
    std::filesystem::remove(m_dir + "/native");
    m_server = std::make_unique<ChildProcess>(
        std::vector<std::string>{"pulseaudio", "-n", "-F", m_dir + "/test.pa", "--daemonize=no", "--exit-idle-time=-1",
                                 "--disallow-exit", "--use-pid-file=no"},
        std::vector<std::string>{"HOME=" + m_dir + "/home", "XDG_RUNTIME_DIR=" + m_dir + "/run"});
    if (!Eventually([this] { return Pactl("info").find("Server Name") != std::string::npos; }))
        throw std::runtime_error("the test sound server did not start");
}

void PulseTestServer::StartPipeWire()
{
    std::filesystem::permissions(m_dir + "/run", std::filesystem::perms::owner_all);
    m_server = std::make_unique<ChildProcess>(
        std::vector<std::string>{"dbus-run-session", "--", "sh", "-c",
                                 "pipewire & sleep 0.3; wireplumber & pipewire-pulse & wait"},
        std::vector<std::string>{"HOME=" + m_dir + "/home", "XDG_RUNTIME_DIR=" + m_dir + "/run"});
    if (!Eventually([this] { return Pactl("info").find("PipeWire") != std::string::npos; }))
        throw std::runtime_error("the test PipeWire server did not start");
    Pactl("load-module module-null-sink sink_name=player_sink");
    if (!KeepDefaultSink()) throw std::runtime_error("the test PipeWire server has no output");
}

// PipeWire's session manager may make a new output the default a moment later.
bool PulseTestServer::KeepDefaultSink()
{
    return Eventually([this] {
        Pactl("set-default-sink player_sink");
        return Pactl("info").find("Default Sink: player_sink") != std::string::npos;
    });
}

void PulseTestServer::AddSink(const std::string& name)
{
    Pactl("load-module module-null-sink sink_name=" + name);
    Eventually([&] { return Pactl("list sinks short").find(name) != std::string::npos; });
    KeepDefaultSink();
}

void PulseTestServer::Stop()
{
    m_server.reset();
}

std::string PulseTestServer::Pactl(const std::string& args) const
{
    return CommandOutput("pactl " + args + " 2>&1");
}

Json::Value PulseTestServer::List(const std::string& what) const
{
    Json::Value list;
    Json::Reader().parse(Pactl("-f json list " + what), list);
    return list.isArray() ? list : Json::Value(Json::arrayValue);
}

std::string PulseTestServer::InputOf(const std::string& player) const
{
    for (const Json::Value& input : List("sink-inputs"))
        if (input["properties"]["application.name"].asString() == player)
            return std::to_string(input["index"].asUInt());
    return {};
}

std::string PulseTestServer::SinkOf(const std::string& player) const
{
    for (const Json::Value& input : List("sink-inputs")) {
        if (input["properties"]["application.name"].asString() != player) continue;
        for (const Json::Value& sink : List("sinks"))
            if (sink["index"] == input["sink"]) return sink["name"].asString();
    }
    return {};
}

bool PulseTestServer::HoldsAnythingOfOurs() const
{
    const std::string all = Pactl("list modules") + Pactl("list sinks") + Pactl("list sources") +
                            Pactl("list sink-inputs") + Pactl("list source-outputs");
    return all.find("castorn") != std::string::npos || all.find("module-loopback") != std::string::npos;
}

TonePlayer::TonePlayer(const std::string& name)
    : ChildProcess({"gst-launch-1.0", "-q", "audiotestsrc", "freq=1000", "is-live=true", "!", "pulsesink",
                    "client-name=" + name})
{}

}  // namespace castorn_test
