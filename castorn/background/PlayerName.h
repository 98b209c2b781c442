// How a playing program is named in the player list, and which programs a name
// chosen from that list (or typed by the operator) selects.
#pragma once

#include <optional>
#include <string>

#include "castorn/background/PulseSession.h"
#include "interface/EngineInterface.h"

namespace castorn {

// The name the player list shows (UTF-8); none for streams that are not a
// program's own (loopbacks) or carry no name.
std::optional<std::string> ListedPlayerName(const SinkInput& input);

// Names are compared as the program sees them, in the locale's character set.
// The program cuts the operator's text to kTextFieldUnits UTF-16 units before sending
// it, so a longer name is selected by its first kTextFieldUnits units as well.
bool SelectsPlayer(const std::string& selected, const SinkInput& input);

}  // namespace castorn
