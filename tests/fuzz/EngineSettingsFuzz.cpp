// What the program hands the engine library besides command texts: the publish address
// in three texts and the stream's numbers, taken from set.ini as they are. The engine
// must refuse them, or fit what it takes, without undefined behaviour. Input: server, application with
// key and stream, each ended by a NUL, then the bytes of eleven 32-bit numbers.
#include "FuzzSupport.h"

#include "castorn/PublishAddress.h"
#include "castorn/StreamSettings.h"

#include <array>
#include <cstring>

namespace {

std::array<int, 11> Numbers(std::string_view bytes)
{
    std::array<int, 11> numbers{};
    std::memcpy(numbers.data(), bytes.data(), std::min(bytes.size(), sizeof numbers));
    return numbers;
}

void CheckAddress(std::string_view server, std::string_view application, std::string_view stream)
{
    castorn::Failure why;
    const auto address =
        castorn::ParsePublishAddress(std::string(server), std::string(application), std::string(stream), why);
    if (!address) {
        Require(!why.message.empty() && (why.reason == castorn_notification::kReasonAddress ||
                                         why.reason == castorn_notification::kReasonNoStream),
                "a refused address says why");
        return;
    }
    Require(!address->host.empty() && !address->stream.empty(), "an address has a host and a stream");
    Require(address->port >= 1 && address->port <= 65535, "a port is within 1-65535");
    Require(address->application.find('?') == std::string::npos, "the application goes without the key");
    const std::string name = address->PublishName();
    Require(name.rfind(address->stream, 0) == 0 &&
                name.size() == address->stream.size() + (address->key.empty() ? 0 : address->key.size() + 1),
            "the publish name is the stream, with the key as one more query argument when there is one");
    address->Describe();
}

bool operator==(const castorn::VideoSettings& a, const castorn::VideoSettings& b)
{
    return a.width == b.width && a.height == b.height && a.fps == b.fps && a.bitrate == b.bitrate &&
           a.keyInterval == b.keyInterval && a.window == b.window;
}

bool operator==(const castorn::AudioSettings& a, const castorn::AudioSettings& b)
{
    return a.sampleRate == b.sampleRate && a.channels == b.channels && a.bitsPerSample == b.bitsPerSample &&
           a.bitrate == b.bitrate && a.volume == b.volume && a.mute == b.mute;
}

void CheckNumbers(const std::array<int, 11>& n)
{
    const castorn::VideoSettings asked{n[0], n[1], n[2], n[3], n[4], 0};
    const castorn::AudioSettings askedAudio{n[5], n[6], n[7], n[8], n[9], (n[10] & 1) != 0};
    if (const auto refusal = castorn::Refusal(asked, askedAudio)) {
        Require(!castorn_parameter::Accepted(refusal->field, refusal->value), "a refusal names a refused value");
        return;
    }
    const castorn::VideoSettings video = castorn::Fit(asked);
    Require(video.width > 0 && video.height > 0 && (video.width | video.height) % 2 == 0,
            "a fitted picture has an even, positive size");
    Require(video.fps > 0 && video.bitrate > 0 && video.keyInterval > 0, "fitted video numbers are usable");
    Require(castorn::Fit(video) == video, "fitted video stays as it is");

    const castorn::AudioSettings audio = castorn::Fit(askedAudio);
    Require(audio.sampleRate > 0 && (audio.channels == 1 || audio.channels == 2) && audio.bitrate > 0,
            "fitted audio numbers are usable");
    Require(castorn::Fit(audio) == audio, "fitted audio stays as it is");

    const int factor = castorn::RateFactorForQuality(n[10]);
    Require(factor >= 0 && factor <= 51, "a rate factor is one x264 knows");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const auto field = SplitFields(InputText(data, size), 3);
    CheckAddress(field[0], field[1], field[2]);
    CheckNumbers(Numbers(field[3]));
    return 0;
}
