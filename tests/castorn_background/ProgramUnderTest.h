// The real program, as built beside the tests, run in a folder of the test's (where
// its set.ini is) with its window on a virtual display, focused, driven by keys.
#pragma once

#include "support/ChildProcess.h"
#include "support/VirtualDisplay.h"

#include <string>

namespace castorn_test {

class ProgramUnderTest {
public:
    ProgramUnderTest(const test_support::VirtualDisplay& display, const std::string& folder);
    bool Shown() const { return m_shown; }
    void Keys(const std::string& keys) const;  // to the focused window: "space", "Tab Tab space"
    // Closes its window; how it ended (as waitpid tells it), or -1 when it does not end.
    int Close();
    // Ends it at once, as a crash or a power cut would: it cleans nothing up.
    void Kill();

    static std::string Path();
    static bool Built();

private:
    const test_support::VirtualDisplay& m_display;
    test_support::ChildProcess m_process;
    bool m_shown = false;
};

}  // namespace castorn_test
