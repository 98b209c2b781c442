#include "castorn/WideNames.h"

#include "castorn/text/NarrowText.h"

namespace castorn {

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
