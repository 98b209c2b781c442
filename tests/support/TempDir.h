// A fresh folder under the system's temporary folder (or under `base`) for one test,
// removed with everything in it when the test ends.
#pragma once

#include <string>

namespace test_support {

class TempDir {
public:
    explicit TempDir(const std::string& base = {});
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& Path() const { return m_path; }
    std::string operator/(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

}  // namespace test_support
