#include "support/RtmpServer.h"

#include "support/BuildTree.h"
#include "support/Files.h"
#include "support/LoopbackPort.h"
#include "support/RecordingAnalysis.h"
#include "support/WaitUntil.h"

#include <signal.h>

#include <stdexcept>

namespace test_support {

RtmpServer::RtmpServer() : m_port(FreeLoopbackPort())
{
    Start();
}

RtmpServer::~RtmpServer()
{
    Stop();
}

void RtmpServer::Start()
{
    m_process = std::make_unique<ChildProcess>(std::vector<std::string>{
        SourceDir() + "/tools/rtmp-server.sh", "start", "--port", std::to_string(m_port), "--dir", m_dir.Path(),
        "--record", "--publish-log", m_dir / "publish.log", "--foreground"});
    if (!WaitUntil([this] { return LoopbackListening(m_port); })) throw std::runtime_error("nginx did not start");
}

void RtmpServer::Stop()
{
    m_process.reset();
    WaitUntil([this] { return !LoopbackListening(m_port); });
}

void RtmpServer::Freeze(bool on)
{
    m_process->Signal(on ? SIGSTOP : SIGCONT);
}

std::vector<std::string> RtmpServer::Recordings() const
{
    return FlvFiles(RecordingsDir());
}

std::string RtmpServer::RecordingsDir() const
{
    return m_dir / "rec";
}

std::vector<std::string> RtmpServer::Publishes() const
{
    return ReadLines(m_dir / "publish.log");
}

std::string RtmpServer::ErrorLog() const
{
    return ReadFile(m_dir / "error.log");
}

}  // namespace test_support
