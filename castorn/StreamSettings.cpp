#include "castorn/StreamSettings.h"

#include <algorithm>
#include <array>
#include <cstdlib>

namespace castorn {

namespace {

// The rates the AAC encoder takes.
constexpr std::array kAacRates{8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000, 64000, 88200, 96000};

int EvenWithin(int value, int low, int high)
{
    return std::clamp(value, low, high) & ~1;
}

int NearestAacRate(int rate)
{
    // In 64 bits: any int may come from the settings file.
    const auto distance = [rate](int candidate) { return std::llabs(static_cast<long long>(candidate) - rate); };
    return *std::min_element(kAacRates.begin(), kAacRates.end(),
                             [&](int a, int b) { return distance(a) < distance(b); });
}

}  // namespace

VideoSettings Fit(VideoSettings video)
{
    video.width = EvenWithin(video.width, 16, 4096);
    video.height = EvenWithin(video.height, 16, 2304);
    video.fps = std::clamp(video.fps, 1, 120);
    video.bitrate = std::clamp(video.bitrate, 1000, 100'000'000);
    video.keyInterval = std::clamp(video.keyInterval, 0, 1000);
    return video;
}

AudioSettings Fit(AudioSettings audio)
{
    audio.sampleRate = NearestAacRate(audio.sampleRate);
    audio.channels = std::clamp(audio.channels, 1, 2);
    if (audio.bitsPerSample != 8 && audio.bitsPerSample != 24 && audio.bitsPerSample != 32) audio.bitsPerSample = 16;
    // The encoder refuses fewer bits than about a twelfth of the samples.
    audio.bitrate = std::clamp(audio.bitrate, std::max(8000, audio.sampleRate * audio.channels / 12), 320000);
    audio.volume = std::clamp(audio.volume, 0, 100);
    return audio;
}

int RateFactorForQuality(int quality)
{
    // 1 gives 40 (blocky), 100 gives 16 (near transparent); 23 is x264's own default.
    const int q = std::clamp(quality, 1, 100);
    return 40 - (q - 1) * 24 / 99;
}

}  // namespace castorn
