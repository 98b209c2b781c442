// An element that turns a screen's 32-bit pixels into the stream's I420 at the stream's
// size, with libyuv's vector code: about a twentieth of the instructions GStreamer's
// general converter takes for a 1280×720 frame.
#pragma once

namespace castorn {

inline constexpr const char* kScreenToI420 = "castornscreentoi420";

// Makes the element known to this process; GStreamer must be initialised.
void RegisterScreenToI420();

}  // namespace castorn
