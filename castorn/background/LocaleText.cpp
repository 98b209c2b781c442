#include "castorn/background/LocaleText.h"

#include <iconv.h>
#include <langinfo.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace castorn {

namespace {

std::size_t SequenceLength(unsigned char lead)
{
    if (lead < 0x80) return 1;
    if ((lead & 0xE0) == 0xC0) return 2;
    if ((lead & 0xF0) == 0xE0) return 3;
    if ((lead & 0xF8) == 0xF0) return 4;
    return 1;  // a stray byte counts as one character
}

class Converter {
public:
    explicit Converter(const char* charset) : m_cd(iconv_open(charset, "UTF-8")) {}
    ~Converter()
    {
        if (Usable()) iconv_close(m_cd);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    bool Usable() const { return m_cd != reinterpret_cast<iconv_t>(-1); }

    std::string Convert(std::string_view utf8)
    {
        std::string out;
        char* in = const_cast<char*>(utf8.data());
        std::size_t inLeft = utf8.size();
        char buffer[256];
        while (inLeft > 0) {
            char* outPtr = buffer;
            std::size_t outLeft = sizeof buffer;
            const std::size_t result = iconv(m_cd, &in, &inLeft, &outPtr, &outLeft);
            out.append(buffer, outPtr);
            if (result != static_cast<std::size_t>(-1) || errno == E2BIG) continue;
            // Unconvertible or broken: one '?' per character, as the platform does.
            out.push_back('?');
            const std::size_t skip = std::min(SequenceLength(static_cast<unsigned char>(*in)), inLeft);
            in += skip;
            inLeft -= skip;
        }
        return out;
    }

private:
    iconv_t m_cd;
};

}  // namespace

std::string Utf8ToLocale(std::string_view utf8)
{
    const char* charset = nl_langinfo(CODESET);
    if (std::strcmp(charset, "UTF-8") == 0) return std::string(utf8);
    Converter converter(charset);
    return converter.Usable() ? converter.Convert(utf8) : std::string(utf8);
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
