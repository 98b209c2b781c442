#include "FuzzSupport.h"

#include "support/Files.h"
#include "support/TempDir.h"

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

void Require(bool condition, const char* property)
{
    if (condition) return;
    std::fprintf(stderr, "fuzz property broken: %s\n", property);
    std::abort();
}

std::string_view InputText(const std::uint8_t* data, std::size_t size)
{
    return {reinterpret_cast<const char*>(data), size};
}

std::vector<std::string_view> SplitFields(std::string_view input, std::size_t count)
{
    std::vector<std::string_view> fields;
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t end = input.find('\0');
        fields.push_back(input.substr(0, end));
        input.remove_prefix(end == std::string_view::npos ? input.size() : end + 1);
    }
    fields.push_back(input);
    return fields;
}

const std::string& ScratchFolder()
{
    // tmpfs where there is one: the targets flush every file they replace.
    static const test_support::TempDir scratch(access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "");
    return scratch.Path();
}

void WriteFileBytes(const std::string& path, std::string_view bytes)
{
    Require(test_support::WriteFile(path, bytes), "the input file can be written");
}
