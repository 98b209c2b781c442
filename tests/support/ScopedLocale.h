// Another locale for as long as this lives; the one before it again afterwards.
#pragma once

#include <clocale>
#include <string>

namespace test_support {

class ScopedLocale {
public:
    explicit ScopedLocale(const char* name)
        : m_previous(std::setlocale(LC_ALL, nullptr)), m_set(std::setlocale(LC_ALL, name) != nullptr)
    {}
    ~ScopedLocale() { std::setlocale(LC_ALL, m_previous.c_str()); }
    ScopedLocale(const ScopedLocale&) = delete;
    ScopedLocale& operator=(const ScopedLocale&) = delete;

    bool Set() const { return m_set; }  // false where the machine lacks that locale

private:
    std::string m_previous;
    bool m_set;
};

}  // namespace test_support
