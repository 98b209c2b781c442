#include "platform/TextConversion.h"

#include <cerrno>
#include <cstring>
#include <iconv.h>
#include <langinfo.h>

namespace {

constexpr char kWideCharset[] = "UTF-16LE";
constexpr char16_t kByteOrderMark = 0xFEFF;
constexpr char16_t kReplacement = 0xFFFD;

// One iconv conversion descriptor for the duration of a conversion.
class Converter {
public:
    Converter(const char* to, const char* from) : m_cd(iconv_open(to, from)) {}
    ~Converter()
    {
        if (ok()) iconv_close(m_cd);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;
    bool ok() const { return m_cd != reinterpret_cast<iconv_t>(-1); }

    // Converts what it can; returns false on an input it cannot go past.
    bool step(const char*& in, std::size_t& inLeft, std::string& out)
    {
        char chunk[256];
        char* dst = chunk;
        std::size_t dstLeft = sizeof chunk;
        char* src = const_cast<char*>(in);
        const std::size_t rc = iconv(m_cd, &src, &inLeft, &dst, &dstLeft);
        const int err = errno;
        in = src;
        out.append(chunk, dst);
        return rc != static_cast<std::size_t>(-1) || err == E2BIG;
    }

private:
    iconv_t m_cd;
};

const char* LocaleCharset()
{
    const char* set = nl_langinfo(CODESET);
    return (set && *set) ? set : "ASCII";
}

bool IsHighSurrogate(char16_t unit)
{
    return unit >= 0xD800 && unit <= 0xDBFF;
}
bool IsLowSurrogate(char16_t unit)
{
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

// A unit sequence iconv refused: skip one character, a whole surrogate pair included.
std::size_t WideUnitsToSkip(const char* in, std::size_t inLeft)
{
    if (inLeft < 4) return inLeft < 2 ? inLeft : 2;
    char16_t units[2];
    std::memcpy(units, in, 4);
    return IsHighSurrogate(units[0]) && IsLowSurrogate(units[1]) ? 4 : 2;
}

}  // namespace

std::string WideToAnsi(std::u16string_view text)
{
    Converter conv(LocaleCharset(), kWideCharset);
    if (!conv.ok()) return {};
    const char* in = reinterpret_cast<const char*>(text.data());
    std::size_t inLeft = text.size() * sizeof(char16_t);
    std::string out;
    while (inLeft > 0) {
        if (conv.step(in, inLeft, out)) continue;
        const std::size_t skip = WideUnitsToSkip(in, inLeft);
        in += skip;
        inLeft -= skip;
        out += '?';
    }
    // Text ends at its first terminator, as a C string would.
    return out.substr(0, out.find('\0'));
}

std::string WideToAnsi(const char16_t* text)
{
    return text ? WideToAnsi(std::u16string_view(text)) : std::string();
}

std::u16string AnsiToWide(std::string_view text)
{
    Converter conv(kWideCharset, LocaleCharset());
    if (!conv.ok()) return {};
    const char* in = text.data();
    std::size_t inLeft = text.size();
    std::string bytes;
    const std::string replacement(reinterpret_cast<const char*>(&kReplacement), sizeof kReplacement);
    while (inLeft > 0) {
        if (conv.step(in, inLeft, bytes)) continue;
        ++in;
        --inLeft;
        bytes += replacement;
    }
    std::u16string wide(bytes.size() / 2, u'\0');
    std::memcpy(wide.data(), bytes.data(), wide.size() * 2);
    if (!wide.empty() && wide.front() == kByteOrderMark) wide.erase(0, 1);
    return wide.substr(0, wide.find(u'\0'));
}

std::u16string AnsiToWide(const char* text, std::size_t length)
{
    return text ? AnsiToWide(std::string_view(text, length)) : std::u16string();
}
