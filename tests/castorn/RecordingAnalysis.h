// What a recording holds over time: when each packet of a track falls, how bright
// each picture is, whether a stretch of its sound is a tone or silence.
#pragma once

#include <string>
#include <vector>

namespace castorn_test {

// Presentation times in seconds of the packets of the "a" or "v" track, in order.
std::vector<double> PacketTimes(const std::string& file, const char* track);
// The longest time between two packets that follow each other.
double LongestGap(const std::vector<double>& times);

// The mean brightness (0-255) of every picture, in order.
std::vector<double> FrameBrightness(const std::string& file);

enum class Sound { Silent, Tone, Other };
inline constexpr double kSoundPiece = 0.25;  // seconds per judged piece
// The recording's sound in pieces of kSoundPiece: a 1 kHz tone, silence, or something else.
std::vector<Sound> SoundPieces(const std::string& file, double toneHz);

}  // namespace castorn_test
