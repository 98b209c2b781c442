#include "castorn/FlvTag.h"

#include <cstring>

namespace castorn {

namespace {

constexpr std::size_t kTagHeaderSize = 11;
constexpr std::uint8_t kAudioTag = 8;
constexpr std::uint8_t kVideoTag = 9;
constexpr std::uint8_t kScriptTag = 18;
constexpr std::uint8_t kKeyFrame = 1;

}  // namespace

FlvTagKind ClassifyFlvTag(const std::uint8_t* data, std::size_t size)
{
    if (size >= 3 && std::memcmp(data, "FLV", 3) == 0) return FlvTagKind::Header;
    if (size < kTagHeaderSize) return FlvTagKind::Unknown;
    switch (data[0] & 0x1f) {
    case kAudioTag: return FlvTagKind::Audio;
    case kScriptTag: return FlvTagKind::Script;
    case kVideoTag:
        if (size <= kTagHeaderSize) return FlvTagKind::Unknown;
        return (data[kTagHeaderSize] >> 4) == kKeyFrame ? FlvTagKind::VideoKey : FlvTagKind::VideoDelta;
    default: return FlvTagKind::Unknown;
    }
}

// 24 bits big-endian, then the upper 8 bits
std::uint32_t FlvTagTime(const std::uint8_t* data)
{
    return static_cast<std::uint32_t>(data[7]) << 24 | static_cast<std::uint32_t>(data[4]) << 16 |
           static_cast<std::uint32_t>(data[5]) << 8 | data[6];
}

void SetFlvTagTime(std::uint8_t* data, std::uint32_t milliseconds)
{
    data[4] = static_cast<std::uint8_t>(milliseconds >> 16);
    data[5] = static_cast<std::uint8_t>(milliseconds >> 8);
    data[6] = static_cast<std::uint8_t>(milliseconds);
    data[7] = static_cast<std::uint8_t>(milliseconds >> 24);
}

}  // namespace castorn
