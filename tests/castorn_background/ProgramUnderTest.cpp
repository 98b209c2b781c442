#include "ProgramUnderTest.h"

#include "support/BuildTree.h"

#include <csignal>
#include <filesystem>
#include <thread>

using namespace std::chrono_literals;

namespace castorn_test {

ProgramUnderTest::ProgramUnderTest(const test_support::VirtualDisplay& display, const std::string& folder)
    : m_display(display), m_process({Path()}, {.env = {"QT_QPA_PLATFORM=xcb"}, .workingDir = folder})
{
    const std::string window = m_display.Xdotool("search --sync --onlyvisible --name '^publish_tavisk$'");
    m_shown = !window.empty();
    if (!m_shown) return;
    m_display.Xdotool("windowfocus --sync " + window.substr(0, window.find('\n')));
    std::this_thread::sleep_for(1s);  // the first focus goes to "上麦" once shown
}

void ProgramUnderTest::Keys(const std::string& keys) const
{
    m_display.Xdotool("key " + keys);
}

int ProgramUnderTest::Close()
{
    Keys("Escape");
    return m_process.AwaitExit(15s) ? m_process.Status() : -1;
}

void ProgramUnderTest::Kill()
{
    m_process.Signal(SIGKILL);
    m_process.AwaitExit(15s);
}

std::string ProgramUnderTest::Path()
{
    return test_support::BuildDir() + "/publish_tavisk";
}

bool ProgramUnderTest::Built()
{
    return std::filesystem::exists(Path());
}

}  // namespace castorn_test
