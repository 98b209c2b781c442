// The desktop's restore token for the screen cast, kept in the user's state folder
// ($XDG_STATE_HOME/publish_tavisk/, by default ~/.local/state/publish_tavisk/) so that
// the desktop's chooser is shown the first time only.
#pragma once

#include <string>

namespace castorn {

std::string ScreenCastTokenPath();
// Empty when none is kept or it cannot be read.
std::string LoadScreenCastToken();
// Replaces the kept one whole (a token is good for one restore; each cast gives the next);
// false when it cannot be written.
bool SaveScreenCastToken(const std::string& token);

}  // namespace castorn
