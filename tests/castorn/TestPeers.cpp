#include "TestPeers.h"

#include "support/LoopbackPort.h"

#include <json/json.h>

#include <fcntl.h>
#include <spawn.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <stdexcept>

namespace fs = std::filesystem;

namespace castorn_test {

namespace {

std::string SourceDir()
{
    const char* dir = std::getenv("TAVISK_SOURCE_DIR");
    return dir ? dir : CASTORN_TEST_SOURCE_DIR;
}

std::string PeersDir()
{
    const char* dir = std::getenv("TAVISK_PEERS_DIR");
    return dir ? dir : CASTORN_TEST_PEERS_DIR;
}

std::vector<std::string> Lines(const std::string& file)
{
    std::vector<std::string> lines;
    std::ifstream in(file);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// Files with data under `dir` that end in .flv, oldest first.
std::vector<std::string> FlvFiles(const std::string& dir)
{
    std::vector<std::string> files;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(dir, error))
        if (entry.path().extension() == ".flv" && entry.file_size() > 0) files.push_back(entry.path());
    std::sort(files.begin(), files.end(), [](const std::string& a, const std::string& b) {
        return fs::last_write_time(a) < fs::last_write_time(b);
    });
    return files;
}

std::string Output(const std::string& command)
{
    std::unique_ptr<FILE, decltype(&pclose)> pipe(popen(command.c_str(), "r"), &pclose);
    std::string text;
    std::array<char, 4096> chunk;
    while (pipe && std::fgets(chunk.data(), chunk.size(), pipe.get())) text += chunk.data();
    return text;
}

// The pids of a process's children (nginx's workers).
std::vector<pid_t> ChildrenOf(pid_t parent)
{
    std::vector<pid_t> children;
    std::error_code error;
    for (const auto& task : fs::directory_iterator("/proc/" + std::to_string(parent) + "/task", error)) {
        FILE* list = std::fopen((task.path() / "children").c_str(), "r");
        for (int pid = 0; list && std::fscanf(list, "%d", &pid) == 1;) children.push_back(pid);
        if (list) std::fclose(list);
    }
    return children;
}

}  // namespace

Child::Child(const std::vector<std::string>& args, const std::vector<std::string>& env)
{
    // posix_spawn, not fork: the test process has GStreamer's threads, and a forked
    // child may only call what is safe after fork until it execs.
    std::vector<std::string> environment = env;
    for (char** entry = environ; *entry; ++entry) environment.emplace_back(*entry);  // the first of a name wins
    std::vector<char*> argv, envp;
    for (const auto& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    for (const auto& entry : environment) envp.push_back(const_cast<char*>(entry.c_str()));
    argv.push_back(nullptr);
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    if (posix_spawnp(&m_pid, argv[0], &actions, &attributes, argv.data(), envp.data()) != 0) m_pid = -1;
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    if (m_pid <= 0) throw std::runtime_error("cannot start " + args[0]);
}

Child::~Child()
{
    if (m_pid <= 0) return;
    kill(m_pid, SIGCONT);
    kill(m_pid, SIGTERM);
    for (int i = 0; i < 100; ++i) {
        if (waitpid(m_pid, nullptr, WNOHANG) == m_pid) return;
        usleep(20000);
    }
    kill(m_pid, SIGKILL);
    waitpid(m_pid, nullptr, 0);
}

void Child::Signal(int signal) const
{
    kill(m_pid, signal);
    for (const pid_t child : ChildrenOf(m_pid)) kill(child, signal);
}

TempDir::TempDir()
{
    std::string pattern = (fs::temp_directory_path() / "castorn-test-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("no temporary folder");
    m_path = pattern;
}

TempDir::~TempDir()
{
    if (std::getenv("CASTORN_KEEP")) return;
    std::error_code error;
    fs::remove_all(m_path, error);
}

RtmpServer::RtmpServer() : m_port(test_support::FreeLoopbackPort())
{
    Start();
}

RtmpServer::~RtmpServer()
{
    Stop();
}

void RtmpServer::Start()
{
    m_process = std::make_unique<Child>(std::vector<std::string>{
        SourceDir() + "/tools/rtmp-server.sh", "start", "--port", std::to_string(m_port), "--dir", m_dir.Path(),
        "--record", "--publish-log", m_dir.Path() + "/publish.log", "--foreground"});
    if (!Eventually([this] { return test_support::LoopbackListening(m_port); }))
        throw std::runtime_error("nginx did not start");
}

void RtmpServer::Stop()
{
    m_process.reset();
    Eventually([this] { return !test_support::LoopbackListening(m_port); });
}

void RtmpServer::Freeze(bool on)
{
    m_process->Signal(on ? SIGSTOP : SIGCONT);
}

std::vector<std::string> RtmpServer::Recordings() const
{
    return FlvFiles(m_dir.Path() + "/rec");
}

std::vector<std::string> RtmpServer::Publishes() const
{
    return Lines(m_dir.Path() + "/publish.log");
}

std::string RtmpServer::ErrorLog() const
{
    std::ifstream in(m_dir.Path() + "/error.log");
    return std::string(std::istreambuf_iterator<char>(in), {});
}

TestCertificates::TestCertificates()
{
    if (std::system(("'" + SourceDir() + "/tools/test-certs.sh' '" + m_dir.Path() + "'").c_str()) != 0)
        throw std::runtime_error("cannot make the test certificates");
}

NodeMediaServer::NodeMediaServer(const Options& options) : m_port(test_support::FreeLoopbackPort())
{
    std::vector<std::string> args{
        "node", SourceDir() + "/tools/nms-server.js", "--dir", m_dir.Path(), "--port", std::to_string(m_port)};
    if (!options.certificate.empty()) {
        do m_tlsPort = test_support::FreeLoopbackPort();
        while (m_tlsPort == m_port);
        args.insert(args.end(),
                    {"--tls-port", std::to_string(m_tlsPort), "--cert", options.certificate, "--key", options.key});
    }
    if (!options.secret.empty()) args.insert(args.end(), {"--secret", options.secret});
    m_process = std::make_unique<Child>(args, std::vector<std::string>{"NODE_PATH=" + PeersDir() + "/node_modules"});
    const bool up = Eventually([this] {
        return test_support::LoopbackListening(m_port) &&
               (m_tlsPort == 0 || test_support::LoopbackListening(m_tlsPort));
    });
    if (!up) throw std::runtime_error("node-media-server did not start");
}

NodeMediaServer::~NodeMediaServer() = default;

std::vector<std::string> NodeMediaServer::Recordings() const
{
    return FlvFiles(m_dir.Path() + "/record/live/s");
}

std::vector<std::string> NodeMediaServer::Publishes() const
{
    return Lines(m_dir.Path() + "/publish.log");
}

bool NodeMediaServer::Available()
{
    return Installed("node") && fs::exists(PeersDir() + "/node_modules/node-media-server/package.json");
}

SoundServer::SoundServer()
{
    const std::string dir = m_dir.Path();
    fs::create_directories(dir + "/home");
    fs::create_directories(dir + "/run");
    FILE* script = std::fopen((dir + "/test.pa").c_str(), "w");
    std::fprintf(script,
                 "load-module module-native-protocol-unix auth-anonymous=1 socket=%s/native\n"
                 "load-module module-null-sink sink_name=player_sink sink_properties=device.description=PlayerSink\n"
                 "load-module module-null-sink sink_name=mic_sink sink_properties=device.description=FakeMicSink\n"
                 "set-default-sink player_sink\nset-default-source mic_sink.monitor\n",
                 dir.c_str());
    std::fclose(script);
    setenv("PULSE_SERVER", ("unix:" + dir + "/native").c_str(), 1);
    Start();
}

SoundServer::~SoundServer()
{
    Stop();
    unsetenv("PULSE_SERVER");
}

void SoundServer::Start()
{
    const std::string dir = m_dir.Path();
    m_process =
        std::make_unique<Child>(std::vector<std::string>{"pulseaudio", "-n", "-F", dir + "/test.pa", "--daemonize=no",
                                                         "--exit-idle-time=-1", "--disallow-exit", "--use-pid-file=no"},
                                std::vector<std::string>{"HOME=" + dir + "/home", "XDG_RUNTIME_DIR=" + dir + "/run"});
    if (!Eventually([] { return Output("pactl info 2>/dev/null").find("Server Name") != std::string::npos; }))
        throw std::runtime_error("pulseaudio did not start");
}

void SoundServer::Stop()
{
    m_process.reset();
}

VirtualDisplay::VirtualDisplay()
{
    int fds[2];
    if (pipe(fds) != 0) throw std::runtime_error("no pipe");
    m_process = std::make_unique<Child>(std::vector<std::string>{"Xvfb", "-displayfd", std::to_string(fds[1]),
                                                                 "-screen", "0", "1280x720x24", "-nolisten", "tcp"});
    close(fds[1]);
    char number[16] = {};
    const ssize_t got = read(fds[0], number, sizeof number - 1);
    close(fds[0]);
    if (got <= 0) throw std::runtime_error("Xvfb did not start");
    m_name = ":" + std::to_string(std::atoi(number));
    setenv("DISPLAY", m_name.c_str(), 1);
}

VirtualDisplay::~VirtualDisplay()
{
    m_process.reset();
    unsetenv("DISPLAY");
}

MediaInfo Probe(const std::string& file)
{
    Json::Value root;
    std::istringstream text(
        Output("ffprobe -v error -count_packets -show_streams -show_format -of json '" + file + "'"));
    text >> root;
    MediaInfo info;
    info.duration = std::atof(root["format"]["duration"].asCString());
    for (const auto& stream : root["streams"]) {
        if (stream["codec_type"].asString() == "video") {
            info.videoCodec = stream["codec_name"].asString();
            info.width = stream["width"].asInt();
            info.height = stream["height"].asInt();
            info.fps = info.duration > 0 ? std::atof(stream["nb_read_packets"].asCString()) / info.duration : 0;
        } else if (stream["codec_type"].asString() == "audio") {
            info.audioCodec = stream["codec_name"].asString();
            info.sampleRate = std::atoi(stream["sample_rate"].asCString());
            info.channels = stream["channels"].asInt();
        }
    }
    return info;
}

bool Installed(const std::string& program)
{
    return !Output("command -v '" + program + "' 2>/dev/null").empty();
}

}  // namespace castorn_test
