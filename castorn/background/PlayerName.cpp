#include "castorn/background/PlayerName.h"

#include "castorn/text/NarrowText.h"

namespace castorn {

std::optional<std::string> ListedPlayerName(const SinkInput& input)
{
    if (!input.fromProgram || input.player.empty()) return std::nullopt;
    return input.player;
}

bool SelectsPlayer(const std::string& selected, const SinkInput& input)
{
    if (!ListedPlayerName(input) || selected.empty()) return false;
    const std::string seen = Utf8ToNarrow(selected);
    // Empty when the locale's set has no converter: then no name tells players apart.
    if (seen.empty()) return false;
    return Utf8ToNarrow(input.player) == seen || Utf8ToNarrow(Utf16Prefix(input.player, kTextFieldUnits)) == seen;
}

}  // namespace castorn
