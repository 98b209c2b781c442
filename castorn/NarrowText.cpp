#include "castorn/NarrowText.h"

#include <glib.h>
#include <langinfo.h>

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
std::optional<std::string> Convert(const std::string& text, const char* to, const char* from)
{
    gsize written = 0;
    gchar* out = g_convert_with_fallback(text.data(), static_cast<gssize>(text.size()), to, from, "?", nullptr,
                                         &written, nullptr);
    if (!out) return std::nullopt;
    std::string result(out, written);
    g_free(out);
    return result;
}

std::string MadeValidUtf8(const std::string& text)
{
    gchar* valid = g_utf8_make_valid(text.data(), static_cast<gssize>(text.size()));
    std::string result(valid);
    g_free(valid);
    return result;
}

}  // namespace

std::string Utf8ToNarrow(const std::string& utf8)
{
    const std::string valid = MadeValidUtf8(utf8);
    if (LocaleIsUtf8()) return valid;
    return Convert(valid, LocaleCharset(), "UTF-8").value_or(std::string());
}

std::string NarrowToUtf8(const std::string& narrow)
{
    if (LocaleIsUtf8()) return MadeValidUtf8(narrow);
    return Convert(narrow, "UTF-8", LocaleCharset()).value_or(MadeValidUtf8(narrow));
}

}  // namespace castorn
