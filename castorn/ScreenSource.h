// An X screen as a live source of BGRx frames at the rate asked downstream, the pointer
// drawn in. Its display connection is the element's own: a display that goes away is an
// error from this element, which the stream survives, not the end of the process.
#pragma once

namespace castorn {

inline constexpr const char* kScreenSource = "castornscreensrc";

// Makes the element known to this process; GStreamer must be initialised.
void RegisterScreenSource();

}  // namespace castorn
