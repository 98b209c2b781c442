// nginx with the RTMP module on a free loopback port (and the same port of ::1 where
// there is IPv6), application "live", recording every publication into its own file.
#pragma once

#include "support/ChildProcess.h"
#include "support/TempDir.h"

#include <memory>
#include <string>
#include <vector>

namespace test_support {

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
    std::string RecordingsDir() const;
    // "name=NAME args=ARGS" for each publish, as nginx hands them to exec_publish.
    std::vector<std::string> Publishes() const;
    std::string ErrorLog() const;

private:
    TempDir m_dir;
    int m_port;
    std::unique_ptr<ChildProcess> m_process;
};

}  // namespace test_support
