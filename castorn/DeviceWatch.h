// What the engine offers to choose from (capture devices, X screens, players playing
// sound), probed on a thread of its own: a device, X server or sound server that hangs
// holds up the probe, never the caller, who gets the newest findings.
#pragma once

#include "castorn/PortalScreenSource.h"
#include "castorn/X11Screens.h"

#include <gst/gst.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

namespace castorn {

using SharedDevice = std::shared_ptr<GstDevice>;

struct DeviceFindings {
    std::vector<SharedDevice> cameras;
    std::vector<X11Screen> screens;
    std::vector<PortalScreen> portalScreens;  // on a Wayland session, in place of X11's
    std::vector<SharedDevice> microphones;
    std::vector<std::string> players;  // UTF-8 names, in the sound server's order
};

class DeviceWatch {
public:
    // Starts the first probe and waits for it up to `firstLimit`.
    explicit DeviceWatch(std::chrono::milliseconds firstLimit);
    ~DeviceWatch();  // a probe under way ends on its own thread
    DeviceWatch(const DeviceWatch&) = delete;
    DeviceWatch& operator=(const DeviceWatch&) = delete;

    // Asks for a new probe and waits up to `limit` for it; the newest findings either way.
    std::shared_ptr<const DeviceFindings> Fresh(std::chrono::milliseconds limit);

    struct State;  // what the watch and its thread share

private:
    std::shared_ptr<State> m_state;
};

}  // namespace castorn
