// The moov of an ordinary MP4 made from a fragmented one's: every box kept as it is
// but the durations, which count every sample now, the sample tables, which index
// them, and the mvex, which goes.
#pragma once

#include "castorn/Mp4Fragments.h"

#include <optional>
#include <string>

namespace castorn {

// `mediaAt`: where the media data laid end to end begins in the new file. Nothing when
// the moov's headers cannot be read.
std::optional<std::string> OrdinaryMovieBox(const FragmentedMp4& movie, std::uint64_t mediaAt, bool wideOffsets);

}  // namespace castorn
