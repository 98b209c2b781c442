#include "platform/Profile.h"

#include "platform/AtomicFile.h"
#include "platform/Wtoi.h"

#include <algorithm>
#include <optional>
#include <vector>

namespace {

// A profile can hold secrets (the settings hold the stream key): a new one is its
// owner's alone. A file that exists keeps its own mode, but for the access of others
// when a secret is written.
constexpr mode_t kNewProfileMode = 0600;

using Lines = std::vector<std::string_view>;  // each line with its own line end

struct Entry {
    std::string_view key;
    std::string_view value;  // trimmed, quotes not yet removed
};

// Where a key is, or where it would go.
struct Location {
    std::optional<std::size_t> keyLine;
    std::optional<std::size_t> sectionEnd;  // the line after the section's last non-blank line
};

bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

bool IsQuote(char c)
{
    return c == '"' || c == '\'';
}

std::string_view Trim(std::string_view text)
{
    while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
    return text;
}

char LowerAscii(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EqualNoCase(std::string_view a, std::string_view b)
{
    return std::ranges::equal(a, b, {}, LowerAscii, LowerAscii);
}

// Lines end in LF, CRLF or a lone CR: a CR inside a value could never be written
// back, so it ends the line for the reader and the writer alike.
Lines SplitLines(std::string_view text)
{
    Lines lines;
    while (!text.empty()) {
        std::size_t length = text.find_first_of("\r\n");
        if (length == std::string_view::npos)
            length = text.size();
        else
            length += text.substr(length, 2) == "\r\n" ? 2 : 1;
        lines.push_back(text.substr(0, length));
        text.remove_prefix(length);
    }
    return lines;
}

// A line without its line end, LF, CRLF or CR.
std::string_view Content(std::string_view line)
{
    if (!line.empty() && line.back() == '\n') line.remove_suffix(1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    return line;
}

std::optional<std::string_view> SectionName(std::string_view line)
{
    const std::string_view text = Trim(Content(line));
    const std::size_t close = text.find(']');
    if (text.empty() || text.front() != '[' || close == std::string_view::npos) return std::nullopt;
    return Trim(text.substr(1, close - 1));
}

std::optional<Entry> KeyEntry(std::string_view line)
{
    const std::string_view text = Trim(Content(line));
    const std::size_t equals = text.find('=');
    if (text.empty() || text.front() == ';' || equals == std::string_view::npos) return std::nullopt;
    return Entry{Trim(text.substr(0, equals)), Trim(text.substr(equals + 1))};
}

std::string_view Unquoted(std::string_view value)
{
    if (value.size() >= 2 && IsQuote(value.front()) && value.back() == value.front())
        return value.substr(1, value.size() - 2);
    return value;
}

// Only the first section of that name counts, for reading and writing alike. Blanks
// around the names asked for count no more than blanks around those in the file.
Location Find(const Lines& lines, std::string_view section, std::string_view key)
{
    section = Trim(section);
    key = Trim(key);
    Location location;
    bool inside = false;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (const auto name = SectionName(lines[i])) {
            if (inside) break;
            inside = EqualNoCase(*name, section);
            if (inside) location.sectionEnd = i + 1;
            continue;
        }
        if (!inside) continue;
        if (!Trim(Content(lines[i])).empty()) location.sectionEnd = i + 1;
        const auto entry = KeyEntry(lines[i]);
        if (entry && EqualNoCase(entry->key, key)) {
            location.keyLine = i;
            break;
        }
    }
    return location;
}

std::optional<std::string> FindValue(std::string_view section, std::string_view key, const std::string& path)
{
    const auto file = ReadWholeFile(path);
    if (!file) return std::nullopt;
    const Lines lines = SplitLines(file->bytes);
    const Location location = Find(lines, section, key);
    if (!location.keyLine) return std::nullopt;
    return std::string(Unquoted(KeyEntry(lines[*location.keyLine])->value));
}

bool BreaksLines(std::string_view text)
{
    return text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

// Names that would read back as something else, or not at all, are refused.
bool Writable(std::string_view section, std::string_view key, std::string_view value)
{
    const std::string_view name = Trim(key);
    return !BreaksLines(section) && !BreaksLines(key) && !BreaksLines(value) &&
           section.find(']') == std::string_view::npos && !Trim(section).empty() &&
           key.find('=') == std::string_view::npos && !name.empty() && name.front() != ';' && name.front() != '[';
}

// Quoted where reading would otherwise trim blanks or strip quotes that belong to it.
std::string FormatValue(std::string_view value)
{
    const bool quote = !value.empty() && (IsBlank(value.front()) || IsBlank(value.back()) || Unquoted(value) != value);
    return quote ? '"' + std::string(value) + '"' : std::string(value);
}

// Lines [from, to) replaced by the insertion; a last line without a line end gets one
// before anything follows it.
std::string Splice(const Lines& lines, std::size_t from, std::size_t to, std::string_view insertion)
{
    std::string out;
    for (std::size_t i = 0; i < from; ++i) out += lines[i];
    if (!out.empty() && out.back() != '\n' && out.back() != '\r') out += '\n';
    out += insertion;
    for (std::size_t i = to; i < lines.size(); ++i) out += lines[i];
    return out;
}

std::string Edited(const std::string& bytes, std::string_view section, std::string_view key, std::string_view value)
{
    const Lines lines = SplitLines(bytes);
    const Location location = Find(lines, section, key);
    const std::string entry = std::string(key) + '=' + FormatValue(value);
    if (location.keyLine) {
        const std::string_view line = lines[*location.keyLine];
        const std::string_view lineEnd = line.substr(Content(line).size());
        return Splice(lines, *location.keyLine, *location.keyLine + 1, entry + std::string(lineEnd));
    }
    if (location.sectionEnd) return Splice(lines, *location.sectionEnd, *location.sectionEnd, entry + '\n');
    return Splice(lines, lines.size(), lines.size(), '[' + std::string(section) + "]\n" + entry + '\n');
}

}  // namespace

std::string GetProfileString(std::string_view section, std::string_view key, std::string_view defaultValue,
                             const std::string& path)
{
    std::string value = FindValue(section, key, path).value_or(std::string(defaultValue));
    // What a C string buffer would hold: up to the first terminator, at most the buffer.
    value.resize(std::min({value.find('\0'), value.size(), kProfileTextMax}));
    return value;
}

int GetProfileInt(std::string_view section, std::string_view key, int defaultValue, const std::string& path)
{
    const auto value = FindValue(section, key, path);
    if (!value) return defaultValue;
    // Byte by byte: only ASCII blanks, signs and digits count, whatever the character set.
    const std::u16string wide(value->begin(), value->end());
    return Wtoi(wide);
}

bool WriteProfileString(std::string_view section, std::string_view key, std::string_view value, const std::string& path)
{
    const ProfileEntry entry{std::string(section), std::string(key), std::string(value)};
    return WriteProfileStrings(path, std::span(&entry, 1));
}

bool WriteProfileStrings(const std::string& path, std::span<const ProfileEntry> entries, bool secret)
{
    const auto writable = [](const ProfileEntry& e) { return Writable(e.section, e.key, e.value); };
    if (!std::ranges::all_of(entries, writable)) return false;
    const std::string target = ResolvedWritePath(path);
    const auto file = ReadWholeFile(target);
    // An unreadable file is never replaced: its contents would be lost.
    if (!file) return false;
    std::string bytes = file->bytes;
    for (const ProfileEntry& entry : entries) bytes = Edited(bytes, entry.section, entry.key, entry.value);
    const mode_t mode = file->mode ? (secret ? *file->mode & kNewProfileMode : *file->mode) : kNewProfileMode;
    return ReplaceFileAtomically(target, bytes, mode);
}
