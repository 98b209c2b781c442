// The program's narrow text is in the locale's character set, its device lists in
// UTF-16; the sound server and GStreamer speak UTF-8. Conversions at that boundary,
// the engine's only ones: a name listed for the program and the name it sends back
// must convert alike, or a player shown as "???" is never found.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace castorn {

// Bytes that are not UTF-8 become U+FFFD; characters the locale's set cannot hold, "?".
std::string Utf8ToNarrow(std::string_view utf8);
// Bytes that are not text in the locale's set become U+FFFD.
std::string NarrowToUtf8(std::string_view narrow);
// Bytes that are not UTF-8 become U+FFFD.
std::u16string Utf8ToUtf16(std::string_view utf8);

// The longest start of the text that fits in `units` UTF-16 code units, as the
// program cuts what the operator typed.
std::string_view Utf16Prefix(std::string_view utf8, std::size_t units);

}  // namespace castorn
