// Shell command lines run for their output, and the programs tests need.
#pragma once

#include <cstdio>
#include <memory>
#include <string>

namespace test_support {

using CommandPipe = std::unique_ptr<FILE, decltype(&pclose)>;

// What the command line writes, to be read as it comes (null when it cannot start).
CommandPipe ReadCommand(const std::string& command);
// All it writes to its standard output.
std::string CommandOutput(const std::string& command);

// Whether a program is there to be started: tests that need it skip without it.
bool Installed(const std::string& program);

}  // namespace test_support
