// Whole files read and written by tests.
#pragma once

#include <string>
#include <vector>

namespace test_support {

std::string ReadFile(const std::string& path);  // its bytes; empty when it cannot be read
std::vector<std::string> ReadLines(const std::string& path);
void WriteFile(const std::string& path, const std::string& text);

}  // namespace test_support
