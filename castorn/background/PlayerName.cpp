#include "castorn/background/PlayerName.h"

#include "castorn/background/LocaleText.h"

namespace castorn {

namespace {

constexpr std::size_t kSentUnits = 99;

}  // namespace

std::optional<std::string> ListedPlayerName(const SinkInput& input)
{
    if (!input.fromProgram || input.player.empty()) return std::nullopt;
    return input.player;
}

bool SelectsPlayer(const std::string& selected, const SinkInput& input)
{
    if (!ListedPlayerName(input) || selected.empty()) return false;
    const std::string seen = Utf8ToLocale(selected);
    return Utf8ToLocale(input.player) == seen || Utf8ToLocale(Utf16Prefix(input.player, kSentUnits)) == seen;
}

}  // namespace castorn
