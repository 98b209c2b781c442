#include "castorn/WideNames.h"

#include <glib.h>

namespace castorn {

std::u16string Utf8ToUtf16(const std::string& utf8)
{
    gchar* valid = g_utf8_make_valid(utf8.data(), static_cast<gssize>(utf8.size()));
    glong units = 0;
    gunichar2* wide = g_utf8_to_utf16(valid, -1, nullptr, &units, nullptr);
    g_free(valid);
    if (!wide) return {};
    std::u16string result(reinterpret_cast<const char16_t*>(wide), static_cast<std::size_t>(units));
    g_free(wide);
    return result;
}

void WideNames::Assign(const std::vector<std::string>& utf8Names)
{
    m_names.clear();
    m_pointers.clear();
    for (const auto& name : utf8Names) m_names.push_back(Utf8ToUtf16(name));
    for (const auto& name : m_names) m_pointers.push_back(name.c_str());
}

void WideNames::Expose(const char16_t*** names, unsigned* count) const
{
    if (names) *names = m_pointers.empty() ? nullptr : const_cast<const char16_t**>(m_pointers.data());
    if (count) *count = static_cast<unsigned>(m_pointers.size());
}

}  // namespace castorn
