// One screen cast through the desktop's ScreenCast portal: a session on a bus connection
// of its own, which lives as long as this object (the desktop ends the cast when the
// connection goes). Start asks for one monitor with the pointer drawn in where the desktop
// offers it, and keeps the desktop's restore token, so that its chooser is shown once.
// Blocking: for a thread that may wait on the desktop, never the engine's loop.
#pragma once

#include <gio/gio.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>

namespace castorn {

class PortalScreenCast {
public:
    enum class Outcome { Started, Refused, Failed };

    PortalScreenCast();
    ~PortalScreenCast();  // the session closed
    PortalScreenCast(const PortalScreenCast&) = delete;
    PortalScreenCast& operator=(const PortalScreenCast&) = delete;

    // `onClosed` runs, on a bus thread, when the desktop ends the session after it started.
    Outcome Start(std::function<void()> onClosed);
    // Once started: PipeWire's descriptor (the caller's to close) and the screen's node.
    int OpenPipeWireRemote();
    unsigned Node() const { return m_node; }
    const std::string& Error() const { return m_error; }

    // The desktop's answers come at once; the chooser waits for the operator.
    static constexpr std::chrono::seconds kAnswerLimit{10};
    static constexpr std::chrono::seconds kChooserLimit{180};

private:
    struct Reply;
    struct ClosedWatch;
    bool Connect();
    bool Request(const char* method, GVariant* leading, GVariantBuilder* options, std::chrono::seconds limit,
                 Reply& reply);
    GVariant* Property(const char* name);

    GDBusConnection* m_connection = nullptr;
    std::string m_session;  // its object path
    unsigned m_node = 0;
    unsigned m_requests = 0;
    guint m_closedFilter = 0;
    std::string m_error;
};

}  // namespace castorn
