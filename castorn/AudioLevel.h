// The level for "OnAudioPercent" of the sound that is sent: the loudest channel's peak from a
// "level" element message, -60 dB and below as 0 and 0 dB as 100.
#pragma once

#include <gst/gst.h>

#include <optional>

namespace castorn {

// nullopt for any message that is not a level report.
std::optional<int> LevelPercent(GstMessage* message);

// The mapping itself, for one peak in dB (negative infinity for silence).
int PercentForDecibels(double decibels);

}  // namespace castorn
