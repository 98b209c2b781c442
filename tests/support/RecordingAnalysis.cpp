#include "support/RecordingAnalysis.h"

#include "support/Command.h"
#include "support/ToneMeter.h"

#include <gtest/gtest.h>
#include <json/reader.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <numeric>
#include <sstream>

namespace fs = std::filesystem;

namespace test_support {

namespace {

constexpr double kAacFrame = 1024;  // samples
constexpr double kAacRate = 44100;

}  // namespace

std::vector<std::string> FlvFiles(const std::string& dir)
{
    std::vector<std::string> files;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(dir, error))
        if (entry.path().extension() == ".flv" && entry.file_size() > 0) files.push_back(entry.path());
    std::sort(files.begin(), files.end(), [](const std::string& a, const std::string& b) {
        return fs::last_write_time(a) < fs::last_write_time(b);
    });
    return files;
}

MediaInfo Probe(const std::string& file)
{
    Json::Value root;
    std::istringstream text(
        CommandOutput("ffprobe -v error -count_packets -show_streams -show_format -of json '" + file + "'"));
    text >> root;
    MediaInfo info;
    info.duration = std::atof(root["format"]["duration"].asCString());
    for (const auto& stream : root["streams"]) {
        if (stream["codec_type"].asString() == "video") {
            info.videoCodec = stream["codec_name"].asString();
            info.width = stream["width"].asInt();
            info.height = stream["height"].asInt();
            info.fps = info.duration > 0 ? std::atof(stream["nb_read_packets"].asCString()) / info.duration : 0;
        } else if (stream["codec_type"].asString() == "audio") {
            info.audioCodec = stream["codec_name"].asString();
            info.sampleRate = std::atoi(stream["sample_rate"].asCString());
            info.channels = stream["channels"].asInt();
        }
    }
    return info;
}

Track ReadTrack(const std::string& file, const char* track)
{
    std::vector<double> times;
    const CommandPipe pipe = ReadCommand(std::string("ffprobe -v error -select_streams ") + track +
                                         " -show_entries packet=pts_time -of default=nw=1:nk=1 '" + file + "'");
    for (double time = 0; pipe && std::fscanf(pipe.get(), "%lf", &time) == 1;) times.push_back(time);
    std::sort(times.begin(), times.end());
    Track result;
    result.packets = times.size();
    if (times.empty()) return result;
    result.first = times.front();
    result.last = times.back();
    for (std::size_t i = 1; i < times.size(); ++i)
        result.longestGap = std::max(result.longestGap, times[i] - times[i - 1]);
    return result;
}

Track ExpectContinuousTracks(const std::string& file, double fps)
{
    const Track audio = ReadTrack(file, "a");
    const Track video = ReadTrack(file, "v");
    EXPECT_LT(audio.longestGap, kLongestGap) << "the sound goes on without a gap";
    EXPECT_NEAR(audio.packets * kAacFrame / kAacRate, audio.last - audio.first, 0.3) << "as much sound as time";
    EXPECT_LT(video.longestGap, kLongestGap) << "so does the picture";
    EXPECT_NEAR(audio.last, video.last, 0.5) << "both tracks last to the end";
    EXPECT_NEAR(video.packets / (video.last - video.first), fps, 1.5) << "at the set frame rate";
    return video;
}

namespace {

std::vector<std::string> VideoPacketDigests(const std::string& file)
{
    std::vector<std::string> digests;
    const CommandPipe pipe =
        ReadCommand("ffmpeg -v error -i '" + file + "' -map 0:v -c copy -f framemd5 - 2>/dev/null");
    char line[512];
    while (pipe && std::fgets(line, sizeof line, pipe.get())) {
        std::string text(line);
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
        if (!text.empty() && text[0] != '#') digests.push_back(text.substr(text.find_last_of(", ") + 1));
    }
    return digests;
}

}  // namespace

void ExpectSameVideoPackets(const std::string& copy, const std::string& original)
{
    const std::vector<std::string> mine = VideoPacketDigests(copy);
    const std::vector<std::string> theirs = VideoPacketDigests(original);
    ASSERT_FALSE(theirs.empty()) << original;
    ASSERT_FALSE(mine.empty()) << copy;
    // Each begins at a key frame of its own asking, the connection's or the file's: whichever
    // began later, the other holds its first picture, and from there on they agree.
    auto first = std::find(mine.begin(), mine.end(), theirs.front());
    auto theirsFirst = theirs.begin();
    if (first == mine.end()) {
        first = mine.begin();
        theirsFirst = std::find(theirs.begin(), theirs.end(), mine.front());
    }
    ASSERT_NE(theirsFirst, theirs.end()) << "the later one's first picture is in the other";
    const std::size_t common = std::min<std::size_t>(mine.end() - first, theirs.end() - theirsFirst);
    EXPECT_GT(common, mine.size() * 8 / 10);
    EXPECT_TRUE(std::equal(first, first + static_cast<std::ptrdiff_t>(common), theirsFirst));
}

std::vector<std::string> TopLevelBoxes(const std::string& file)
{
    const auto number = [](const unsigned char* bytes, int count) {
        std::uint64_t value = 0;
        for (int i = 0; i < count; ++i) value = value << 8 | bytes[i];
        return value;
    };
    std::vector<std::string> types;
    std::ifstream in(file, std::ios::binary);
    const auto size = static_cast<std::uint64_t>(fs::file_size(file));
    unsigned char head[16] = {};
    for (std::uint64_t at = 0; at < size;) {
        in.seekg(static_cast<std::streamoff>(at)).read(reinterpret_cast<char*>(head), 16);
        std::uint64_t box = number(head, 4);
        if (box == 1) box = number(head + 8, 8);
        if (box == 0) box = size - at;
        if (in.gcount() < 8 || box < 8 || box > size - at) {
            types.push_back("?");
            break;
        }
        types.emplace_back(reinterpret_cast<char*>(head + 4), 4);
        at += box;
        in.clear();
    }
    return types;
}

void ExpectOrdinaryMp4(const std::string& file)
{
    const std::vector<std::string> boxes = TopLevelBoxes(file);
    std::string listed;
    for (const std::string& box : boxes) listed += box + " ";
    EXPECT_EQ(std::count(boxes.begin(), boxes.end(), "moof"), 0) << listed;
    EXPECT_EQ(std::count(boxes.begin(), boxes.end(), "?"), 0) << listed;
    const auto moov = std::find(boxes.begin(), boxes.end(), "moov");
    const auto mdat = std::find(boxes.begin(), boxes.end(), "mdat");
    EXPECT_TRUE(moov != boxes.end() && mdat != boxes.end() && moov < mdat) << listed;
}

std::string PacketListing(const std::string& file)
{
    return CommandOutput("ffmpeg -v error -i '" + file + "' -map 0 -c copy -f framemd5 - 2>/dev/null") +
           CommandOutput("ffprobe -v error -show_entries packet=stream_index,pts,dts,duration,size,flags -of csv '" +
                         file + "' 2>/dev/null");
}

namespace {

std::vector<Thumbnail> Thumbnails(const std::string& file, const char* format, std::size_t bytesPerPixel)
{
    std::vector<Thumbnail> thumbnails;
    const CommandPipe pipe =
        ReadCommand("ffmpeg -v error -i '" + file + "' -an -vf scale=" + std::to_string(kThumbWidth) + ":" +
                    std::to_string(kThumbHeight) + ",format=" + format + " -f rawvideo - 2>/dev/null");
    Thumbnail frame(kThumbWidth * kThumbHeight * bytesPerPixel);
    while (pipe && std::fread(frame.data(), 1, frame.size(), pipe.get()) == frame.size()) thumbnails.push_back(frame);
    return thumbnails;
}

}  // namespace

std::vector<double> FrameBrightness(const std::string& file)
{
    std::vector<double> means;
    for (const Thumbnail& frame : Thumbnails(file, "gray", 1))
        means.push_back(std::accumulate(frame.begin(), frame.end(), 0.0) / frame.size());
    return means;
}

std::vector<Thumbnail> RgbThumbnails(const std::string& file)
{
    return Thumbnails(file, "rgb24", 3);
}

std::vector<Sound> SoundPieces(const std::string& file, double toneRms)
{
    const std::vector<std::int16_t> samples = DecodeAudio(file);
    const std::size_t size = std::size_t(kSoundPiece * kMeterRate);
    std::vector<Sound> pieces;
    for (std::size_t at = 0; at + size <= samples.size(); at += size) {
        const Level level = Measure(std::span(samples).subspan(at, size));
        const bool tone = level.rms > toneRms && std::abs(level.frequency - kToneHz) < kToneHz / 20;
        pieces.push_back(tone ? Sound::Tone : level.rms < 0.003 ? Sound::Silent : Sound::Other);
    }
    return pieces;
}

std::vector<SoundRun> Runs(const std::vector<Sound>& pieces)
{
    std::vector<SoundRun> raw;
    for (const Sound piece : pieces) {
        if (!raw.empty() && raw.back().sound == piece)
            raw.back().seconds += kSoundPiece;
        else
            raw.push_back({piece, kSoundPiece});
    }
    std::vector<SoundRun> runs;
    for (std::size_t i = 0; i < raw.size(); ++i) {
        const bool change = raw[i].sound == Sound::Other && raw[i].seconds <= kChange;
        const bool dropout =
            raw[i].seconds <= kChange && !runs.empty() && i + 1 < raw.size() && runs.back().sound == raw[i + 1].sound;
        if (change || dropout) continue;
        if (!runs.empty() && runs.back().sound == raw[i].sound)
            runs.back().seconds += raw[i].seconds;
        else
            runs.push_back(raw[i]);
    }
    return runs;
}

std::string Describe(const std::vector<SoundRun>& runs)
{
    std::string text;
    char seconds[32];
    for (const SoundRun& run : runs) {
        std::snprintf(seconds, sizeof seconds, "%.2f s; ", run.seconds);
        text += (run.sound == Sound::Tone     ? "tone "
                 : run.sound == Sound::Silent ? "silence "
                                              : "other ") +
                std::string(seconds);
    }
    return text;
}

}  // namespace test_support
