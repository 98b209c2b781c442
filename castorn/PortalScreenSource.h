// The screen of a Wayland desktop, through its ScreenCast portal and PipeWire: a bin
// whose "src" pad gives the screen's BGRx frames. Going to READY asks the desktop for a
// cast (its chooser may be shown; see castorn/PortalScreenCast.h), so the bin is opened
// off the engine's loop, as every source is. A chooser refused or cancelled is an error
// GST_RESOURCE_ERROR_NOT_AUTHORIZED; a cast the desktop ends is an error while playing.
#pragma once

#include <string>

namespace castorn {

inline constexpr const char* kPortalScreenSource = "castornportalsrc";

// The one screen a portal offers: which monitor is the desktop's (or its operator's) choice.
struct PortalScreen {};

inline constexpr const char* kPortalScreenName = "Screen (desktop portal)";

// A Wayland session: its screen is captured through the portal, X11's would show only
// what runs under Xwayland.
bool PortalScreenOffered();

// Makes the element known to this process; GStreamer must be initialised.
void RegisterPortalScreenSource();

}  // namespace castorn
