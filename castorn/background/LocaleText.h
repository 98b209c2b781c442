// The sound server names programs in UTF-8; the program sees them in the
// locale's character set, where a character the set cannot hold is '?'.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace castorn {

std::string Utf8ToLocale(std::string_view utf8);

// The longest start of the text that fits in `units` UTF-16 code units, as the
// program cuts what the operator typed.
std::string_view Utf16Prefix(std::string_view utf8, std::size_t units);

}  // namespace castorn
