// The outside world of a publishing test, each part started for the test and
// ended with it: an RTMP server that records, a sound server with two null
// outputs, an X server. Each sets what the engine reads to find it.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace castorn_test {

// A program of the test's, ended with SIGTERM (then SIGKILL) by its pid.
class Child {
public:
    explicit Child(const std::vector<std::string>& args, const std::vector<std::string>& env = {});
    ~Child();
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    pid_t Pid() const { return m_pid; }
    void Signal(int signal) const;

private:
    pid_t m_pid = -1;
};

template <class Check>
bool Eventually(Check check, std::chrono::milliseconds limit = std::chrono::seconds(10))
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!check()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

// A fresh folder under the system's temporary folder, removed at the end.
class TempDir {
public:
    TempDir();
    ~TempDir();
    const std::string& Path() const { return m_path; }

private:
    std::string m_path;
};

// nginx with the RTMP module on a free loopback port (and the same port of ::1 where
// there is IPv6), application "live", recording every publication into its own file.
class RtmpServer {
public:
    RtmpServer();
    ~RtmpServer();
    int Port() const { return m_port; }
    std::string Address() const { return "rtmp://127.0.0.1:" + std::to_string(m_port); }
    std::string AddressV6() const { return "rtmp://[::1]:" + std::to_string(m_port); }
    void Start();
    void Stop();                                  // as a server that goes away: connections close
    void Freeze(bool on);                         // as a hung server: it accepts, then answers nothing
    std::vector<std::string> Recordings() const;  // with data, oldest first
    // "name=NAME args=ARGS" for each publish, as nginx hands them to exec_publish.
    std::vector<std::string> Publishes() const;
    std::string ErrorLog() const;

private:
    TempDir m_dir;
    int m_port;
    std::unique_ptr<Child> m_process;
};

// Certificates made for the test (see tools/test-certs.sh): a test CA, a server
// certificate it signed and a self-signed one, for 127.0.0.1 and localhost.
class TestCertificates {
public:
    TestCertificates();
    std::string File(const std::string& name) const { return m_dir.Path() + "/" + name; }

private:
    TempDir m_dir;
};

// node-media-server v4 (tools/nms-server.js, installed from tests/peers by the test
// set-up) on free loopback ports: RTMP, and RTMPS with the given certificate and key
// when there are any; publish authentication when a secret is given.
class NodeMediaServer {
public:
    struct Options {
        std::string secret = {};
        std::string certificate = {};
        std::string key = {};
    };
    explicit NodeMediaServer(const Options& options);
    ~NodeMediaServer();
    std::string Address() const { return "rtmp://127.0.0.1:" + std::to_string(m_port); }
    std::string SecureAddress() const { return "rtmps://localhost:" + std::to_string(m_tlsPort); }
    std::vector<std::string> Recordings() const;  // of live/s, with data, oldest first
    // "prePublish PATH QUERY" for each publish asked for, "postPublish ..." for each taken.
    std::vector<std::string> Publishes() const;

    static bool Available();  // node and the installed server are there

private:
    TempDir m_dir;
    int m_port;
    int m_tlsPort = 0;
    std::unique_ptr<Child> m_process;
};

// PulseAudio with the null outputs "player_sink" and "mic_sink" (whose monitor is the
// default source), reached through PULSE_SERVER, which it sets for this process.
// Stopped and started again, it comes back at the same address.
class SoundServer {
public:
    SoundServer();
    ~SoundServer();
    void Start();
    void Stop();

private:
    TempDir m_dir;
    std::unique_ptr<Child> m_process;
};

// Xvfb on a free display, set as DISPLAY for this process.
class VirtualDisplay {
public:
    VirtualDisplay();
    ~VirtualDisplay();
    const std::string& Name() const { return m_name; }

private:
    std::string m_name;
    std::unique_ptr<Child> m_process;
};

// What ffprobe finds in a recording.
struct MediaInfo {
    std::string videoCodec;
    int width = 0;
    int height = 0;
    double fps = 0;
    std::string audioCodec;
    int sampleRate = 0;
    int channels = 0;
    double duration = 0;
};

MediaInfo Probe(const std::string& file);

// Whether a program is there to be started: tests that need it skip without it.
bool Installed(const std::string& program);

}  // namespace castorn_test
