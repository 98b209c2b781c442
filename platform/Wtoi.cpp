#include "platform/Wtoi.h"

#include <cstdint>
#include <limits>

namespace {

bool IsBlank(char16_t c)
{
    return c == u' ' || (c >= u'\t' && c <= u'\r');
}

}  // namespace

int Wtoi(std::u16string_view text)
{
    std::size_t i = 0;
    while (i < text.size() && IsBlank(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) negative = text[i++] == u'-';
    constexpr std::int64_t kMax = std::numeric_limits<int>::max();
    constexpr std::int64_t kMin = std::numeric_limits<int>::min();
    std::int64_t value = 0;
    for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
        value = value * 10 + (text[i] - u'0');
        // Past the limit more digits change nothing.
        if (value > kMax + 1) value = kMax + 1;
    }
    value = negative ? -value : value;
    return static_cast<int>(value < kMin ? kMin : (value > kMax ? kMax : value));
}
