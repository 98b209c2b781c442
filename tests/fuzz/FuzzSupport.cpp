#include "FuzzSupport.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
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

namespace {

class Scratch {
public:
    Scratch()
    {
        // tmpfs where there is one: the targets flush every file they replace.
        const std::string base =
            access("/dev/shm", W_OK) == 0 ? "/dev/shm" : std::filesystem::temp_directory_path().string();
        std::string pattern = base + "/tavisk-fuzz-XXXXXX";
        Require(mkdtemp(pattern.data()) != nullptr, "a scratch folder can be made");
        m_path = pattern;
    }
    ~Scratch()
    {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    const std::string& Path() const { return m_path; }

private:
    std::string m_path;
};

}  // namespace

const std::string& ScratchFolder()
{
    static const Scratch scratch;
    return scratch.Path();
}

void WriteFileBytes(const std::string& path, std::string_view bytes)
{
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    Require(file.good(), "the input file can be written");
}

std::string ReadFileBytes(const std::string& path)
{
    std::ostringstream text;
    text << std::ifstream(path, std::ios::binary).rdbuf();
    return text.str();
}
