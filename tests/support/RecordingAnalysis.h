// What a recording holds: its streams as ffprobe finds them, when each packet of a
// track falls, how bright each picture is, whether a stretch of its sound is a tone
// or silence.
#pragma once

#include <string>
#include <vector>

namespace test_support {

// The recordings a server made under `dir` (.flv files with data), oldest first.
std::vector<std::string> FlvFiles(const std::string& dir);

struct MediaInfo {
    std::string videoCodec;
    int width = 0;
    int height = 0;
    double fps = 0;
    std::string audioCodec;
    int sampleRate = 0;
    int channels = 0;
    double duration = 0;
};
MediaInfo Probe(const std::string& file);

// The packets of one track: when the first and the last come (seconds), how many
// there are, and the longest time between two that follow each other.
struct Track {
    std::size_t packets = 0;
    double first = 0;
    double last = 0;
    double longestGap = 0;
};
Track ReadTrack(const std::string& file, const char* track);  // track: "a" or "v"
// A gap between packets that a source lost without a stand-in leaves (seconds); a
// loaded machine leaves a few hundred milliseconds.
inline constexpr double kLongestGap = 1.0;
// Expects both tracks (AAC at 44.1 kHz, and pictures at `fps`) to go on to the end
// without such a gap, with as much sound as time; the picture's track.
Track ExpectContinuousTracks(const std::string& file, double fps);

// A copy of a stream holds the very video packets `original` holds (compared by their
// digests, as `ffmpeg -c copy -f framemd5` gives them) from where the later of the two
// begins, over the span both have, which is most of the copy's.
void ExpectSameVideoPackets(const std::string& copy, const std::string& original);

// The types of an MP4's top-level boxes, in order; "?" for what is not a whole box.
std::vector<std::string> TopLevelBoxes(const std::string& file);
// An ordinary MP4 that a player seeks in at once: no fragments, the index (moov) ahead
// of the media data.
void ExpectOrdinaryMp4(const std::string& file);
// Every packet of every track as ffmpeg reads it (time stamps, duration, size, digest,
// as `-c copy -f framemd5` gives them) and as ffprobe flags it (key frames), in order.
std::string PacketListing(const std::string& file);

// The mean brightness (0-255) of every picture, in order.
std::vector<double> FrameBrightness(const std::string& file);
// Every picture scaled down to kThumbWidth x kThumbHeight, 3 bytes (R, G, B) a pixel, in order.
inline constexpr int kThumbWidth = 16;
inline constexpr int kThumbHeight = 12;
using Thumbnail = std::vector<unsigned char>;
std::vector<Thumbnail> RgbThumbnails(const std::string& file);

enum class Sound { Silent, Tone, Other };
inline constexpr double kSoundPiece = 0.25;  // seconds per judged piece
// The recording's sound in pieces of kSoundPiece: the test tone (at `toneRms` of full
// scale or louder), silence, or something else.
std::vector<Sound> SoundPieces(const std::string& file, double toneRms = 0.05);

struct SoundRun {
    Sound sound;
    double seconds;
};
// The pieces as runs of the same kind, in order. What straddles a change (no more
// than kChange of neither kind), and a dropout as short within a run, are left out.
inline constexpr double kChange = 2 * kSoundPiece;
std::vector<SoundRun> Runs(const std::vector<Sound>& pieces);
std::string Describe(const std::vector<SoundRun>& runs);  // for failure messages

}  // namespace test_support
