// Whole files read and written by tests.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace test_support {

std::string ReadFile(const std::string& path);  // its bytes; empty when it cannot be read
std::vector<std::string> ReadLines(const std::string& path);
bool WriteFile(const std::string& path, std::string_view text);  // whether all of it was written

}  // namespace test_support
