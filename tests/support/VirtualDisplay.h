// Xvfb on a free display, set as DISPLAY for this process and what it starts.
#pragma once

#include "support/ChildProcess.h"

#include <memory>
#include <string>

namespace test_support {

class VirtualDisplay {
public:
    VirtualDisplay();
    // A display to be stopped and started again under the same name: a number far above
    // those Xvfb picks for itself, so that no other test's server takes it meanwhile.
    struct Restartable {};
    explicit VirtualDisplay(Restartable);
    ~VirtualDisplay();
    const std::string& Name() const { return m_name; }
    // The server gone, as when it crashes, and back under the same name.
    void Stop() { m_process.reset(); }
    void Start();
    void Freeze(bool on);  // as a hung server: SIGSTOP, or SIGCONT
    // Runs xdotool with these arguments on this display; what it prints.
    std::string Xdotool(const std::string& args) const;

private:
    explicit VirtualDisplay(const std::string& name);  // empty: a free one

    std::string m_name;
    std::unique_ptr<ChildProcess> m_process;
};

}  // namespace test_support
