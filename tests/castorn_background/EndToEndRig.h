// What an end-to-end run of the real program needs besides the sound server: an
// X server to show its window on, an RTMP server that records what it publishes,
// and a way to press its keys.
#pragma once

#include <memory>
#include <string>

#include "ChildProcess.h"

namespace castorn_test {

// A fresh folder under /tmp for one run, removed with everything in it at the end.
struct ScratchDir {
    explicit ScratchDir(const std::string& prefix);
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    std::string path;
};

class XServer {
public:
    XServer();
    const std::string& Display() const { return m_display; }
    // Runs xdotool with these arguments against this display; its output.
    std::string Xdotool(const std::string& args) const;

private:
    std::string m_display;
    std::unique_ptr<ChildProcess> m_process;
};

class RtmpRecorder {
public:
    explicit RtmpRecorder(const std::string& dir);
    int Port() const { return m_port; }
    // The first recording, once there is one with data in it; empty before.
    std::string Recording() const;
    void Stop() { m_process.reset(); }

private:
    std::string m_dir;
    int m_port;
    std::unique_ptr<ChildProcess> m_process;
};

}  // namespace castorn_test
