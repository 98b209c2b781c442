// What the program asked for, as given, and the values the encoders can take.
#pragma once

#include "castorn/Failure.h"

#include <cstdint>
#include <optional>

namespace castorn {

struct VideoSettings {
    int width = 320;
    int height = 240;
    int fps = 10;
    int bitrate = 160000;       // bit/s
    int keyInterval = 30;       // frames from one key frame to the next
    std::uintptr_t window = 0;  // the frame control, handed back with each preview picture
};

struct AudioSettings {
    int sampleRate = 44100;
    int channels = 2;
    int bitsPerSample = 16;
    int bitrate = 32000;  // bit/s
    int volume = 80;      // 0-100
    bool mute = false;
};

struct EncoderSettings {
    int bFrames = 0;
    int vbrQuality = 0;           // 1-100 selects constant quality, 0 constant bitrate
    bool adaptiveBitrate = true;  // the video rate follows what the connection carries
};

// The first value that cannot make a working stream (castorn_parameter), as the
// failure StartPublish reports; nothing when every value is taken.
std::optional<Failure> Refusal(const VideoSettings& video, const AudioSettings& audio);

// Values taken (see Refusal) as the pipeline uses them: even sizes, an audio
// bitrate the encoder takes for the rate and channels, a volume of 0 to 100.
VideoSettings Fit(VideoSettings video);
AudioSettings Fit(AudioSettings audio);

// x264's rate factor for a quality of 1 (worst) to 100 (best).
int RateFactorForQuality(int quality);

}  // namespace castorn
