#include "castorn/StreamSettings.h"

#include "interface/EngineInterface.h"

#include <algorithm>
#include <utility>

namespace castorn {

namespace p = castorn_parameter;

std::optional<Failure> Refusal(const VideoSettings& video, const AudioSettings& audio)
{
    const std::pair<const char*, int> values[] = {
        {p::kWidth, video.width},          {p::kHeight, video.height},           {p::kFps, video.fps},
        {p::kVideoBitrate, video.bitrate}, {p::kKeyInterval, video.keyInterval}, {p::kSampleRate, audio.sampleRate},
        {p::kChannels, audio.channels},    {p::kAudioBitrate, audio.bitrate},
    };
    for (const auto& [field, value] : values)
        if (!p::Accepted(field, value))
            return Failure{castorn_notification::kReasonParameter,
                           std::string(field) + " " + std::to_string(value) + " cannot make a working stream", field,
                           value};
    return std::nullopt;
}

VideoSettings Fit(VideoSettings video)
{
    video.width &= ~1;
    video.height &= ~1;
    return video;
}

AudioSettings Fit(AudioSettings audio)
{
    if (audio.bitsPerSample != 8 && audio.bitsPerSample != 24 && audio.bitsPerSample != 32) audio.bitsPerSample = 16;
    // The encoder refuses fewer bits than about a twelfth of the samples.
    audio.bitrate = std::max(audio.bitrate, audio.sampleRate * audio.channels / 12);
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
