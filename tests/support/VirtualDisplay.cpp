#include "support/VirtualDisplay.h"

#include "support/Command.h"

#include <unistd.h>

#include <cstdlib>
#include <stdexcept>

namespace test_support {

constexpr char kNoSessionBus[] = "unix:path=/dev/null/no-session-bus";

VirtualDisplay::VirtualDisplay()
{
    // Xvfb picks a free display itself and writes its number once it takes clients.
    int fds[2];
    if (pipe(fds) != 0) throw std::runtime_error("no pipe");
    m_process = std::make_unique<ChildProcess>(std::vector<std::string>{
        "Xvfb", "-displayfd", std::to_string(fds[1]), "-screen", "0", "1280x720x24", "-nolisten", "tcp"});
    close(fds[1]);
    char number[16] = {};
    const ssize_t got = read(fds[0], number, sizeof number - 1);
    close(fds[0]);
    if (got <= 0) throw std::runtime_error("Xvfb did not start");
    m_name = ":" + std::to_string(std::atoi(number));
    setenv("DISPLAY", m_name.c_str(), 1);
    // No session bus on a test display: without an address libdbus forks a launcher from
    // Qt's D-Bus thread, whose late answer can outlive a short test and read as a leak.
    setenv("DBUS_SESSION_BUS_ADDRESS", kNoSessionBus, 1);
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
