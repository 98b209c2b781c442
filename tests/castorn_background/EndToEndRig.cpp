#include "EndToEndRig.h"

#include "support/LoopbackPort.h"

#include <cstdlib>
#include <filesystem>
#include <stdexcept>

namespace castorn_test {

ScratchDir::ScratchDir(const std::string& prefix)
{
    std::string pattern = "/tmp/" + prefix + "-XXXXXX";
    if (!mkdtemp(pattern.data())) throw std::runtime_error("no temporary folder");
    path = pattern;
}

ScratchDir::~ScratchDir()
{
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
}

XServer::XServer()
{
    int number = 90;
    while (std::filesystem::exists("/tmp/.X11-unix/X" + std::to_string(number)) ||
           std::filesystem::exists("/tmp/.X" + std::to_string(number) + "-lock"))
        ++number;
    m_display = ":" + std::to_string(number);
    m_process = std::make_unique<ChildProcess>(
        std::vector<std::string>{"Xvfb", m_display, "-screen", "0", "1024x768x24", "-nolisten", "tcp"});
    if (!Eventually([number] { return std::filesystem::exists("/tmp/.X11-unix/X" + std::to_string(number)); }))
        throw std::runtime_error("Xvfb did not start");
}

std::string XServer::Xdotool(const std::string& args) const
{
    return CommandOutput("DISPLAY=" + m_display + " timeout 20 xdotool " + args + " 2>/dev/null");
}

RtmpRecorder::RtmpRecorder(const std::string& dir) : m_dir(dir), m_port(test_support::FreeLoopbackPort())
{
    m_process = std::make_unique<ChildProcess>(
        std::vector<std::string>{std::string(TAVISK_SOURCE) + "/tools/rtmp-server.sh", "start", "--port",
                                 std::to_string(m_port), "--dir", m_dir, "--record", "--foreground"});
    if (!Eventually([this] { return test_support::LoopbackListening(m_port); }))
        throw std::runtime_error("nginx did not start");
}

std::string RtmpRecorder::Recording() const
{
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(m_dir + "/rec", error))
        if (entry.path().extension() == ".flv" && entry.file_size() > 0) return entry.path();
    return {};
}

}  // namespace castorn_test
