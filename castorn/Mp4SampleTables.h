// The sample table (stbl) of an ordinary MP4 for the samples gathered from a
// fragmented one: each run one chunk, the sample description kept byte for byte.
#pragma once

#include "castorn/Mp4Fragments.h"

#include <string>
#include <string_view>

namespace castorn {

// `mediaAt`: where the media data laid end to end begins in the new file; 64-bit chunk
// offsets when `wideOffsets`.
std::string SampleTableBox(std::string_view stsd, const Mp4Track& track, std::uint64_t mediaAt, bool wideOffsets);

}  // namespace castorn
