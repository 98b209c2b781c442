#include "castorn/text/NarrowText.h"

#include <glib.h>
#include <langinfo.h>

#include <algorithm>
#include <optional>

namespace castorn {

namespace {

const char* LocaleCharset()
{
    const char* set = nl_langinfo(CODESET);
    return (set && *set) ? set : "ASCII";
}

bool LocaleIsUtf8()
{
    const char* set = LocaleCharset();
    return g_ascii_strcasecmp(set, "UTF-8") == 0 || g_ascii_strcasecmp(set, "utf8") == 0;
}

// nullopt when the input is not text in `from`
std::optional<std::string> Convert(std::string_view text, const char* to, const char* from)
{
    gsize written = 0;
    gchar* out = g_convert_with_fallback(text.data(), static_cast<gssize>(text.size()), to, from, "?", nullptr,
                                         &written, nullptr);
    if (!out) return std::nullopt;
    std::string result(out, written);
    g_free(out);
    return result;
}

std::string MadeValidUtf8(std::string_view text)
{
    gchar* valid = g_utf8_make_valid(text.data(), static_cast<gssize>(text.size()));
    std::string result(valid);
    g_free(valid);
    return result;
}

std::size_t SequenceLength(unsigned char lead)
{
    if (lead < 0x80) return 1;
    if ((lead & 0xE0) == 0xC0) return 2;
    if ((lead & 0xF0) == 0xE0) return 3;
    if ((lead & 0xF8) == 0xF0) return 4;
    return 1;  // a stray byte counts as one character
}

}  // namespace

std::string Utf8ToNarrow(std::string_view utf8)
{
    const std::string valid = MadeValidUtf8(utf8);
    if (LocaleIsUtf8()) return valid;
    return Convert(valid, LocaleCharset(), "UTF-8").value_or(std::string());
}

std::string NarrowToUtf8(std::string_view narrow)
{
    if (LocaleIsUtf8()) return MadeValidUtf8(narrow);
    return Convert(narrow, "UTF-8", LocaleCharset()).value_or(MadeValidUtf8(narrow));
}

std::u16string Utf8ToUtf16(std::string_view utf8)
{
    const std::string valid = MadeValidUtf8(utf8);
    glong units = 0;
    gunichar2* wide = g_utf8_to_utf16(valid.c_str(), -1, nullptr, &units, nullptr);
    if (!wide) return {};
    std::u16string result(reinterpret_cast<const char16_t*>(wide), static_cast<std::size_t>(units));
    g_free(wide);
    return result;
}

std::string_view Utf16Prefix(std::string_view utf8, std::size_t units)
{
    std::size_t pos = 0;
    while (pos < utf8.size()) {
        const std::size_t length = SequenceLength(static_cast<unsigned char>(utf8[pos]));
        const std::size_t needed = length == 4 ? 2 : 1;  // beyond the BMP takes a surrogate pair
        if (needed > units) break;
        units -= needed;
        pos = std::min(pos + length, utf8.size());
    }
    return utf8.substr(0, pos);
}

}  // namespace castorn
