#include "RecordingAnalysis.h"

#include "ToneMeter.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <numeric>

namespace castorn_test {

namespace {

constexpr int kThumbWidth = 16;
constexpr int kThumbHeight = 12;

using Pipe = std::unique_ptr<FILE, decltype(&pclose)>;

Pipe Run(const std::string& command)
{
    return Pipe(popen(command.c_str(), "r"), &pclose);
}

}  // namespace

Track ReadTrack(const std::string& file, const char* track)
{
    std::vector<double> times;
    const Pipe pipe = Run(std::string("ffprobe -v error -select_streams ") + track +
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

std::vector<double> FrameBrightness(const std::string& file)
{
    std::vector<double> means;
    const Pipe pipe = Run("ffmpeg -v error -i '" + file + "' -an -vf scale=" + std::to_string(kThumbWidth) + ":" +
                          std::to_string(kThumbHeight) + ",format=gray -f rawvideo - 2>/dev/null");
    std::vector<unsigned char> frame(kThumbWidth * kThumbHeight);
    while (pipe && std::fread(frame.data(), 1, frame.size(), pipe.get()) == frame.size())
        means.push_back(std::accumulate(frame.begin(), frame.end(), 0.0) / frame.size());
    return means;
}

std::vector<Sound> SoundPieces(const std::string& file, double toneHz)
{
    const std::vector<std::int16_t> samples = DecodeAudio(file);
    const std::size_t size = std::size_t(kSoundPiece * kMeterRate);
    std::vector<Sound> pieces;
    for (std::size_t at = 0; at + size <= samples.size(); at += size) {
        const Level level = Measure(std::span(samples).subspan(at, size));
        const bool tone = level.rms > 0.05 && std::abs(level.frequency - toneHz) < toneHz / 20;
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

}  // namespace castorn_test
