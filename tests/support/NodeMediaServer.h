// node-media-server v4 (tools/nms-server.js, installed from tests/peers by the test
// set-up) on free loopback ports: RTMP, and RTMPS with the given certificate and key
// when there are any; publish authentication when a secret is given. And the
// certificates for its RTMPS.
#pragma once

#include "support/ChildProcess.h"
#include "support/TempDir.h"

#include <memory>
#include <string>
#include <vector>

namespace test_support {

class NodeMediaServer {
public:
    struct Options {
        std::string secret = {};
        std::string certificate = {};
        std::string key = {};
    };
    explicit NodeMediaServer(const Options& options);
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
    std::unique_ptr<ChildProcess> m_process;
};

// Certificates made for the test (see tools/test-certs.sh): a test CA, a server
// certificate it signed and a self-signed one, for 127.0.0.1 and localhost.
class TestCertificates {
public:
    TestCertificates();
    std::string File(const std::string& name) const { return m_dir / name; }

private:
    TempDir m_dir;
};

}  // namespace test_support
