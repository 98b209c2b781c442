#include "support/Command.h"

#include <array>

namespace test_support {

CommandPipe ReadCommand(const std::string& command)
{
    return CommandPipe(popen(command.c_str(), "r"), &pclose);
}

std::string CommandOutput(const std::string& command)
{
    const CommandPipe pipe = ReadCommand(command);
    std::string output;
    std::array<char, 4096> buffer;
    while (pipe) {
        const std::size_t n = std::fread(buffer.data(), 1, buffer.size(), pipe.get());
        if (n == 0) break;
        output.append(buffer.data(), n);
    }
    return output;
}

bool Installed(const std::string& program)
{
    return !CommandOutput("command -v '" + program + "' 2>/dev/null").empty();
}

}  // namespace test_support
