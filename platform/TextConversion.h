// Window text (UTF-16) to and from narrow text in the locale's character set.
// A failed or empty conversion gives empty text.
#pragma once

#include <string>
#include <string_view>

// Characters the character set cannot hold become '?'.
std::string WideToAnsi(std::u16string_view text);
std::string WideToAnsi(const char16_t* text);

// A leading byte-order mark is dropped; undecodable bytes become U+FFFD.
std::u16string AnsiToWide(std::string_view text);
std::u16string AnsiToWide(const char* text, std::size_t length);
