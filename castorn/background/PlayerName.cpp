#include "castorn/background/PlayerName.h"

#include "castorn/background/LocaleText.h"

namespace castorn {

namespace {

constexpr std::size_t kSentUnits = 99;

}  // namespace

std::optional<std::string> ListedPlayerName(const SinkInput& input) {
    if (!input.fromProgram || input.player.empty()) return std::nullopt;
    return Utf8ToLocale(input.player);
}

bool SelectsPlayer(const std::string& selected, const SinkInput& input) {
    const auto listed = ListedPlayerName(input);
    if (!listed || selected.empty()) return false;
    return *listed == selected || Utf8ToLocale(Utf16Prefix(input.player, kSentUnits)) == selected;
}

}  // namespace castorn
