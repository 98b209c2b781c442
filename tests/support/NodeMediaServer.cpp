#include "support/NodeMediaServer.h"

#include "support/BuildTree.h"
#include "support/Command.h"
#include "support/LoopbackPort.h"
#include "support/Files.h"
#include "support/RecordingAnalysis.h"
#include "support/WaitUntil.h"

#include <cstdlib>
#include <filesystem>
#include <stdexcept>

namespace test_support {

NodeMediaServer::NodeMediaServer(const Options& options) : m_port(FreeLoopbackPort())
{
    std::vector<std::string> args{
        "node", SourceDir() + "/tools/nms-server.js", "--dir", m_dir.Path(), "--port", std::to_string(m_port)};
    if (!options.certificate.empty()) {
        do m_tlsPort = FreeLoopbackPort();
        while (m_tlsPort == m_port);
        args.insert(args.end(),
                    {"--tls-port", std::to_string(m_tlsPort), "--cert", options.certificate, "--key", options.key});
    }
    if (!options.secret.empty()) args.insert(args.end(), {"--secret", options.secret});
    m_process = std::make_unique<ChildProcess>(
        args, ChildProcess::Options{.env = {"NODE_PATH=" + PeersDir() + "/node_modules"}});
    const bool up =
        WaitUntil([this] { return LoopbackListening(m_port) && (m_tlsPort == 0 || LoopbackListening(m_tlsPort)); });
    if (!up) throw std::runtime_error("node-media-server did not start");
}

std::vector<std::string> NodeMediaServer::Recordings() const
{
    return FlvFiles(m_dir / "record/live/s");
}

std::vector<std::string> NodeMediaServer::Publishes() const
{
    return ReadLines(m_dir / "publish.log");
}

bool NodeMediaServer::Available()
{
    return Installed("node") && std::filesystem::exists(PeersDir() + "/node_modules/node-media-server/package.json");
}

TestCertificates::TestCertificates()
{
    if (std::system(("'" + SourceDir() + "/tools/test-certs.sh' '" + m_dir.Path() + "'").c_str()) != 0)
        throw std::runtime_error("cannot make the test certificates");
}

}  // namespace test_support
