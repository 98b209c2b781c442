#include "support/WaylandDesktop.h"

#include "support/BuildTree.h"
#include "support/Command.h"
#include "support/Files.h"
#include "support/WaitUntil.h"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <stdexcept>

using namespace std::chrono_literals;

namespace test_support {

namespace {

constexpr auto kStartLimit = 20s;
constexpr char kUnset[] = "\x01";  // an environment variable's "before" when it had none

std::string Script()
{
    return SourceDir() + "/tests/support/desktop/headless-desktop.sh";
}

int SwayMessage(const std::string& command)
{
    return std::system(("swaymsg -q '" + command + "' >/dev/null 2>&1").c_str());
}

}  // namespace

std::string WaylandDesktop::Missing()
{
    for (const char* program : {"sway", "swaymsg", "grim", "pipewire", "wireplumber", "dbus-run-session", "gdbus"})
        if (!Installed(program)) return std::string("needs ") + program;
    for (const char* program : {"/usr/libexec/xdg-desktop-portal", "/usr/libexec/xdg-desktop-portal-wlr"})
        if (access(program, X_OK) != 0) return std::string("needs ") + program;
    for (const char* element : {"pipewiresrc", "waylandsink"})
        if (std::system(("gst-inspect-1.0 " + std::string(element) + " >/dev/null 2>&1").c_str()) != 0)
            return std::string("needs the GStreamer element ") + element;
    if (geteuid() == 0) return "sway refuses root: run the test through tests/support/desktop/as-desktop-user.sh";
    return {};
}

WaylandDesktop::WaylandDesktop()
{
    const std::string chooser = m_dir / "chooser.sh";
    // Each call logged; "refuse" there makes it answer as a user who cancels.
    WriteFile(chooser, "#!/bin/sh\necho called >>'" + (m_dir / "chooser.log") + "'\n[ -e '" + (m_dir / "refuse") +
                           "' ] && exit 1\necho HEADLESS-1\n");
    chmod(chooser.c_str(), 0755);
    const std::string folder = m_dir / "desktop";
    m_session =
        std::make_unique<ChildProcess>(std::vector<std::string>{Script(), folder, TAVISK_SCREENCOPY_SHIM, chooser},
                                       ChildProcess::Options{.errors = m_dir / "desktop.log"});
    const std::string environment = folder + "/desktop.env";
    if (!WaitUntil([&] { return access(environment.c_str(), R_OK) == 0 || !m_session->Running(); }, kStartLimit) ||
        !m_session->Running())
        throw std::runtime_error("the Wayland desktop did not start:\n" + ReadFile(m_dir / "desktop.log"));
    std::vector<std::string> lines = ReadLines(environment);
    // GSettings (which GIO's proxy lookup reads) would keep the desktop's bus through dconf,
    // on GLib's shared connection, which ends the process when the bus goes.
    lines.emplace_back("GSETTINGS_BACKEND=memory");
    for (const std::string& line : lines) {
        const auto equals = line.find('=');
        if (equals == std::string::npos) continue;
        const std::string name = line.substr(0, equals);
        const char* before = std::getenv(name.c_str());
        m_environment.emplace_back(name, before ? before : kUnset);
        setenv(name.c_str(), line.substr(equals + 1).c_str(), 1);
    }
}

WaylandDesktop::~WaylandDesktop()
{
    m_picture.reset();
    m_session.reset();
    for (const auto& [name, before] : m_environment)
        before == kUnset ? unsetenv(name.c_str()) : setenv(name.c_str(), before.c_str(), 1);
}

void WaylandDesktop::Show(const std::string& pictureProperties)
{
    m_picture.reset();
    m_picture = std::make_unique<ChildProcess>(
        std::vector<std::string>{"sh", "-c",
                                 "exec gst-launch-1.0 -q videotestsrc is-live=true " + pictureProperties +
                                     " ! video/x-raw,width=160,height=90,framerate=30/1 ! waylandsink"});
    const std::string criteria = "[pid=" + std::to_string(m_picture->Pid()) + "]";
    if (!WaitUntil([&] { return SwayMessage(criteria + " fullscreen enable") == 0; }))
        throw std::runtime_error("the picture did not show on the Wayland desktop");
}

void WaylandDesktop::Freeze(bool on)
{
    m_picture->Signal(on ? SIGSTOP : SIGCONT);
}

std::vector<unsigned char> WaylandDesktop::MiddlePixel() const
{
    // A binary PPM: "P6", width, height and 255, each followed by one blank, then the rows.
    const std::string shot = CommandOutput("grim -t ppm - 2>/dev/null");
    int width = 0, height = 0, most = 0, header = 0;
    if (std::sscanf(shot.c_str(), "P6 %d %d %d%n", &width, &height, &most, &header) != 3 || most != 255) return {};
    const std::size_t at = static_cast<std::size_t>(header) + 1 +
                           (static_cast<std::size_t>(height / 2) * static_cast<std::size_t>(width) + width / 2) * 3;
    if (at + 3 > shot.size()) return {};
    return {shot.begin() + static_cast<std::ptrdiff_t>(at), shot.begin() + static_cast<std::ptrdiff_t>(at + 3)};
}

int WaylandDesktop::ChooserCalls() const
{
    return static_cast<int>(ReadLines(m_dir / "chooser.log").size());
}

void WaylandDesktop::RefuseChooser(bool on)
{
    on ? WriteFile(m_dir / "refuse", "") : (unlink((m_dir / "refuse").c_str()), true);
}

void WaylandDesktop::RestartPortalBackend()
{
    const std::string pidFile = m_dir / "desktop/portal-backend.pid";
    const std::string before = ReadFile(pidFile);
    kill(std::atoi(before.c_str()), SIGTERM);
    if (!WaitUntil([&] { return ReadFile(pidFile) != before; }))
        throw std::runtime_error("the portal backend did not start again");
    // Up once it has its name on the bus again.
    std::system("timeout 10 gdbus wait --session org.freedesktop.impl.portal.desktop.wlr");
}

}  // namespace test_support
