// A Wayland desktop with no screen for the tests (desktop/headless-desktop.sh): sway on
// its headless 1280x720 output, PipeWire, WirePlumber and the ScreenCast portal on a
// private session bus, set in this process's environment for as long as it runs. Its
// chooser is a script of the test's own: it logs each call and picks the one output, or
// refuses. Sway refuses to run as root: a test that starts one runs as an unprivileged
// user (desktop/as-desktop-user.sh does it for ctest).
#pragma once

#include "support/ChildProcess.h"
#include "support/TempDir.h"

#include <memory>
#include <string>
#include <vector>

namespace test_support {

class WaylandDesktop {
public:
    // Why a desktop cannot be started here (a package missing, or root); empty when it can.
    static std::string Missing();

    WaylandDesktop();  // throws when it does not come up
    ~WaylandDesktop();
    WaylandDesktop(const WaylandDesktop&) = delete;
    WaylandDesktop& operator=(const WaylandDesktop&) = delete;

    // Shows a live picture full screen: videotestsrc with these properties, e.g.
    // "pattern=ball background-color=0xff2060c0", made at 160x90 and scaled up by the
    // compositor (its ball then spans a ninth of the screen's height); the one shown before goes.
    void Show(const std::string& pictureProperties);
    void Freeze(bool on);  // the shown picture stops (SIGSTOP) or goes on: the screen is still
    // Red, green and blue at the middle of the output now, from a screenshot; empty when none was taken.
    std::vector<unsigned char> MiddlePixel() const;
    // How many times the portal's chooser was asked.
    int ChooserCalls() const;
    void RefuseChooser(bool on);  // it exits with an error, as a user's "cancel"
    // The portal backend ends (its casts with it) and is started again.
    void RestartPortalBackend();
    const std::string& Folder() const { return m_dir.Path(); }

private:
    TempDir m_dir;
    std::unique_ptr<ChildProcess> m_session;
    std::unique_ptr<ChildProcess> m_picture;
    std::vector<std::pair<std::string, std::string>> m_environment;
};

}  // namespace test_support
