#include "PulseTestServer.h"

#include <signal.h>
#include <spawn.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <vector>

extern char** environ;

namespace castorn_test {

namespace {

pid_t Spawn(const std::vector<std::string>& args, const std::vector<std::string>& extraEnv = {}) {
    std::vector<std::string> env(extraEnv);
    for (char** var = environ; *var; ++var) env.emplace_back(*var);
    std::vector<char*> argv, envp;
    for (const auto& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    for (const auto& var : env) envp.push_back(const_cast<char*>(var.c_str()));
    argv.push_back(nullptr);
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    const int error = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0) throw std::runtime_error("cannot start " + args[0]);
    return pid;
}

void End(pid_t& pid) {
    if (pid <= 0) return;
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
    pid = -1;
}

}  // namespace

PulseTestServer::PulseTestServer() {
    char pattern[] = "/tmp/pulse-test-XXXXXX";
    m_dir = mkdtemp(pattern);
    std::filesystem::create_directories(m_dir + "/home");
    std::filesystem::create_directories(m_dir + "/run");
    std::ofstream(m_dir + "/test.pa")
        << "load-module module-native-protocol-unix auth-anonymous=1 socket=" << m_dir << "/native\n"
        << "load-module module-null-sink sink_name=player_sink sink_properties=device.description=PlayerSink\n"
        << "load-module module-null-sink sink_name=mic_sink sink_properties=device.description=FakeMicSink\n"
        << "set-default-sink player_sink\n"
        << "set-default-source mic_sink.monitor\n";
    setenv("PULSE_SERVER", ("unix:" + m_dir + "/native").c_str(), 1);
    Start();
}

PulseTestServer::~PulseTestServer() {
    Stop();
    std::filesystem::remove_all(m_dir);
}

void PulseTestServer::Start() {
    std::filesystem::remove(m_dir + "/native");
    m_pid = Spawn({"pulseaudio", "-n", "-F", m_dir + "/test.pa", "--daemonize=no", "--exit-idle-time=-1",
                   "--disallow-exit", "--use-pid-file=no"},
                  {"HOME=" + m_dir + "/home", "XDG_RUNTIME_DIR=" + m_dir + "/run"});
    if (!Eventually([this] { return Pactl("info").find("Server Name") != std::string::npos; }))
        throw std::runtime_error("the test sound server did not start");
}

void PulseTestServer::Stop() { End(m_pid); }

std::string PulseTestServer::Pactl(const std::string& args) const {
    std::string output;
    if (FILE* pipe = popen(("pactl " + args + " 2>&1").c_str(), "r")) {
        std::array<char, 4096> buffer;
        while (const std::size_t n = fread(buffer.data(), 1, buffer.size(), pipe)) output.append(buffer.data(), n);
        pclose(pipe);
    }
    return output;
}

Json::Value PulseTestServer::List(const std::string& what) const {
    Json::Value list;
    Json::Reader().parse(Pactl("-f json list " + what), list);
    return list.isArray() ? list : Json::Value(Json::arrayValue);
}

std::string PulseTestServer::InputOf(const std::string& player) const {
    for (const Json::Value& input : List("sink-inputs"))
        if (input["properties"]["application.name"].asString() == player) return std::to_string(input["index"].asUInt());
    return {};
}

std::string PulseTestServer::SinkOf(const std::string& player) const {
    for (const Json::Value& input : List("sink-inputs")) {
        if (input["properties"]["application.name"].asString() != player) continue;
        for (const Json::Value& sink : List("sinks"))
            if (sink["index"] == input["sink"]) return sink["name"].asString();
    }
    return {};
}

TonePlayer::TonePlayer(const std::string& name)
    : m_pid(Spawn({"gst-launch-1.0", "-q", "audiotestsrc", "freq=1000", "is-live=true", "!", "pulsesink",
                   "client-name=" + name})) {}

TonePlayer::~TonePlayer() { Stop(); }

void TonePlayer::Stop() { End(m_pid); }

Level MeasureSource(const std::string& source) {
    constexpr int kRate = 48000;
    // A low latency asks the sink for small blocks; an idle null sink renders two seconds at a time.
    FILE* pipe = popen(("parec --raw --format=s16le --channels=1 --rate=48000 --latency-msec=20 -d " + source +
                        " 2>/dev/null").c_str(), "r");
    if (!pipe) return {};
    std::vector<std::int16_t> samples(kRate / 4);
    const std::size_t read = fread(samples.data(), sizeof(std::int16_t), samples.size(), pipe);
    pclose(pipe);
    if (read < samples.size()) return {};
    double sum = 0;
    int crossings = 0;
    for (std::size_t i = 0; i < samples.size(); ++i) {
        sum += double(samples[i]) * samples[i];
        if (i > 0 && (samples[i - 1] < 0) != (samples[i] < 0)) ++crossings;
    }
    const double seconds = double(samples.size()) / kRate;
    return {std::sqrt(sum / samples.size()) / 32768.0, crossings / seconds / 2};
}

}  // namespace castorn_test
