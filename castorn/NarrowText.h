// The program's narrow text is in the locale's character set; the sound server
// and GStreamer speak UTF-8. Conversions at that boundary.
#pragma once

#include <string>

namespace castorn {

// Characters the locale's set cannot hold become "?".
std::string Utf8ToNarrow(const std::string& utf8);
// Bytes that are not text in the locale's set become U+FFFD.
std::string NarrowToUtf8(const std::string& narrow);

}  // namespace castorn
