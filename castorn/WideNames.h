// Names handed to the program as an array of NUL-terminated UTF-16 texts that
// the engine owns until it lists again.
#pragma once

#include <string>
#include <vector>

namespace castorn {

class WideNames {
public:
    void Assign(const std::vector<std::string>& utf8Names);
    void Expose(const char16_t*** names, unsigned* count) const;

private:
    std::vector<std::u16string> m_names;
    std::vector<const char16_t*> m_pointers;
};

}  // namespace castorn
