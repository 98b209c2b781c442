// INI files read and written key by key, with the platform's private-profile rules:
// section and key names without regard to case, blanks around names and values
// ignored, a value in matching quotes read without them, the first of duplicate keys
// (and of duplicate sections) wins, ';' starts a comment, CRLF and LF both read.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>

// A text value read is cut to this many bytes, as by the platform's 255-byte buffer.
inline constexpr std::size_t kProfileTextMax = 254;

// The key's value, or the default when the file, section or key is absent or the
// file cannot be read.
std::string GetProfileString(std::string_view section, std::string_view key, std::string_view defaultValue,
                             const std::string& path);

// The decimal number the value begins with (0 when it begins with none), or the
// default when the key is absent.
int GetProfileInt(std::string_view section, std::string_view key, int defaultValue, const std::string& path);

struct ProfileEntry {
    std::string section;
    std::string key;
    std::string value;
};

// Replaces the key's line, else adds the key at the end of its section, else adds the
// section at the end of the file; every other byte stays as it was. The file is
// replaced whole or not at all; a new file is made readable by its owner only. False
// when nothing was written: the file could not be
// read or replaced, or a name or value would break the file's lines.
bool WriteProfileString(std::string_view section, std::string_view key, std::string_view value,
                        const std::string& path);

// Several writes as one: in order, and all of them or none. With `secret` (what is
// written holds one), a file that exists is left readable by its owner only as well.
bool WriteProfileStrings(const std::string& path, std::span<const ProfileEntry> entries, bool secret = false);
