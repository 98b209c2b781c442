// What the sender needs to know of one FLV tag as flvmux emits it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace castorn {

enum class FlvTagKind { Header, Audio, VideoKey, VideoDelta, Script, Unknown };

constexpr bool IsVideo(FlvTagKind kind)
{
    return kind == FlvTagKind::VideoKey || kind == FlvTagKind::VideoDelta;
}

// `data` holds the start of one buffer of flvmux output.
FlvTagKind ClassifyFlvTag(const std::uint8_t* data, std::size_t size);

// A tag's timestamp in milliseconds, read and written in place (data of 8 bytes or more).
std::uint32_t FlvTagTime(const std::uint8_t* data);
void SetFlvTagTime(std::uint8_t* data, std::uint32_t milliseconds);

}  // namespace castorn
