// The profile functions on any file: one key is written, and then it reads back as
// written, every other key reads as before, and every other line of the file is kept.
// Input: section, key, value, a probe section and a probe key, each ended by a NUL,
// then the file's bytes.
#include "FuzzSupport.h"

#include "platform/Profile.h"

#include <algorithm>

namespace {

// A default no file can hold, to tell "absent" from any value.
constexpr std::string_view kAbsent("\n<absent>", 9);

std::string Read(std::string_view section, std::string_view key, const std::string& path)
{
    return GetProfileString(section, key, kAbsent, path);
}

// Names as the platform compares them: blanks around them ignored, ASCII case ignored.
bool SameName(std::string_view a, std::string_view b)
{
    const auto trim = [](std::string_view text) {
        const std::size_t first = text.find_first_not_of(" \t");
        if (first == std::string_view::npos) return std::string_view();
        return text.substr(first, text.find_last_not_of(" \t") - first + 1);
    };
    const auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
    return std::ranges::equal(trim(a), trim(b), {}, lower, lower);
}

// Each line with its end: LF, CRLF or a lone CR, as the profile functions read them.
std::vector<std::string_view> Lines(std::string_view text)
{
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        std::size_t length = std::min(text.find_first_of("\r\n"), text.size());
        length += text.substr(length, 2) == "\r\n" ? 2 : std::min<std::size_t>(1, text.size() - length);
        lines.push_back(text.substr(0, length));
        text.remove_prefix(length);
    }
    return lines;
}

bool HasLineEnd(std::string_view line)
{
    return line.ends_with('\n') || line.ends_with('\r');
}

// An old line is kept when its bytes are unchanged; a last line without a line end
// may have gained one, when something was added after it.
bool Kept(std::string_view before, std::string_view after, bool lastBefore)
{
    if (before == after) return true;
    return lastBefore && !HasLineEnd(before) && after.size() == before.size() + 1 && after.back() == '\n' &&
           after.starts_with(before);
}

// The write replaced one line, or added the key's line, or added its section and the
// key's line, in one place.
void RequireOtherLinesKept(std::string_view before, std::string_view after)
{
    const auto old = Lines(before);
    const auto now = Lines(after);
    std::size_t prefix = 0;
    const auto keptAt = [&](std::size_t i) { return Kept(old[i], now[i], i + 1 == old.size()); };
    while (prefix < old.size() && prefix < now.size() && keptAt(prefix)) ++prefix;
    std::size_t suffix = 0;
    while (suffix < old.size() - prefix && suffix < now.size() - prefix &&
           old[old.size() - 1 - suffix] == now[now.size() - 1 - suffix])
        ++suffix;
    const std::size_t removed = old.size() - prefix - suffix;
    const std::size_t added = now.size() - prefix - suffix;
    // A line rewritten as it was shows as no change at all.
    const bool oneChange = (removed == 0 && added <= 2) || (removed == 1 && added == 1);
    Require(oneChange, "a write changes one place of the file and keeps every other line");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const auto field = SplitFields(InputText(data, size), 5);
    const std::string_view section = field[0], key = field[1], value = field[2];
    const std::string_view probeSection = field[3], probeKey = field[4], file = field[5];
    const std::string path = ScratchFolder() + "/profile.ini";
    WriteFileBytes(path, file);

    const std::string probeBefore = Read(probeSection, probeKey, path);
    GetProfileInt(probeSection, probeKey, -1, path);
    const bool written = WriteProfileString(section, key, value, path);
    const std::string after = ReadFile(path);
    if (!written) {
        Require(after == file, "a refused write leaves the file as it was");
        return 0;
    }
    Require(Read(section, key, path) == value.substr(0, kProfileTextMax), "a written value reads back unchanged");
    if (!SameName(section, probeSection) || !SameName(key, probeKey))
        Require(Read(probeSection, probeKey, path) == probeBefore, "a write leaves every other key as it was");
    RequireOtherLinesKept(file, after);
    return 0;
}
