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
    case kAudioTag:
        return FlvTagKind::Audio;
    case kScriptTag:
        return FlvTagKind::Script;
    case kVideoTag:
        if (size <= kTagHeaderSize) return FlvTagKind::Unknown;
        return (data[kTagHeaderSize] >> 4) == kKeyFrame ? FlvTagKind::VideoKey : FlvTagKind::VideoDelta;
    default:
        return FlvTagKind::Unknown;
    }
}

}  // namespace castorn
