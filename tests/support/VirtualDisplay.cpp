#include "support/VirtualDisplay.h"

#include "support/Command.h"

#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>

namespace test_support {
namespace {
constexpr const char* kNoSessionBus = "unix:path=/dev/null/no-session-bus";
// Restartable displays: one number per test process, above the free ones Xvfb counts up to.
constexpr int kRestartableBase = 1000;
constexpr int kRestartableRange = 50000;
}  // namespace

VirtualDisplay::VirtualDisplay() : VirtualDisplay(std::string{}) {}

VirtualDisplay::VirtualDisplay(Restartable)
    : VirtualDisplay(":" + std::to_string(kRestartableBase + getpid() % kRestartableRange))
{}

VirtualDisplay::VirtualDisplay(const std::string& name) : m_name(name)
{
    Start();
    setenv("DISPLAY", m_name.c_str(), 1);
    // No session bus on a test display: without an address libdbus forks a launcher from
    // Qt's D-Bus thread, whose late answer can outlive a short test and read as a leak.
    setenv("DBUS_SESSION_BUS_ADDRESS", kNoSessionBus, 1);
    // An X session: run from a Wayland desktop, the engine would offer that desktop's
    // screen in place of this display's.
    unsetenv("WAYLAND_DISPLAY");
}

void VirtualDisplay::Start()
{
    // Xvfb picks a free display itself, the first time, and writes its number once it
    // takes clients.
    int fds[2];
    if (pipe(fds) != 0) throw std::runtime_error("no pipe");
    std::vector<std::string> args{"Xvfb",      "-displayfd", std::to_string(fds[1]), "-screen", "0", "1280x720x24",
                                  "-nolisten", "tcp"};
    if (!m_name.empty()) args.push_back(m_name);
    m_process = std::make_unique<ChildProcess>(args);
    close(fds[1]);
    char number[16] = {};
    const ssize_t got = read(fds[0], number, sizeof number - 1);
    close(fds[0]);
    if (got <= 0) throw std::runtime_error("Xvfb did not start");
    m_name = ":" + std::to_string(std::atoi(number));
}

void VirtualDisplay::Freeze(bool on)
{
    m_process->Signal(on ? SIGSTOP : SIGCONT);
}

VirtualDisplay::~VirtualDisplay()
{
    m_process.reset();
    unsetenv("DISPLAY");
    unsetenv("DBUS_SESSION_BUS_ADDRESS");
}

std::string VirtualDisplay::Xdotool(const std::string& args) const
{
    return CommandOutput("DISPLAY=" + m_name + " timeout 20 xdotool " + args + " 2>/dev/null");
}

}  // namespace test_support
