// What the background audio is doing while on air, and the notification that
// tells the program about it.
#pragma once

#include <string>

namespace castorn {

enum class CaptureState {
    Off,          // switched off: the stream carries the microphone alone
    Waiting,      // switched on, but no program of that name plays now
    Capturing,    // the player's sound is in the stream
    Unavailable,  // no sound server, or it refused the capture sink
};

// The OnBackgroundAudio notification for `state` (its members: interface/EngineInterface.h).
std::string CaptureStateMessage(CaptureState state, const std::string& player);

}  // namespace castorn
