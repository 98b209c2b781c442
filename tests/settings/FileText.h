#pragma once

#include <fstream>
#include <sstream>
#include <string>

// A file's bytes; empty when it cannot be read.
inline std::string FileText(const char* name = "set.ini")
{
    std::ostringstream text;
    text << std::ifstream(name, std::ios::binary).rdbuf();
    return text.str();
}
