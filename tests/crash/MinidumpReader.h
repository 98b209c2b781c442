// A reader of the MDMP files the crash handler writes, for checking them field by field.
#pragma once

#include "crash/MinidumpFormat.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace crash_test {

class MinidumpReader {
public:
    explicit MinidumpReader(const std::string& path);

    bool valid() const { return m_valid; }
    const std::string& error() const { return m_error; }
    const tavisk_crash::md::Header& header() const { return m_header; }
    size_t fileSize() const { return m_data.size(); }

    bool hasStream(uint32_t type) const;
    // The raw bytes of a stream (empty when absent).
    std::string stream(uint32_t type) const;

    std::vector<tavisk_crash::md::Thread> threads() const;
    std::optional<tavisk_crash::md::ContextAmd64> context(const tavisk_crash::md::LocationDescriptor& where) const;
    std::vector<tavisk_crash::md::MemoryDescriptor> memoryList() const;
    std::optional<tavisk_crash::md::ExceptionStream> exception() const;
    std::optional<tavisk_crash::md::SystemInfo> systemInfo() const;
    std::optional<tavisk_crash::md::MiscInfo> miscInfo() const;

    struct Module {
        tavisk_crash::md::Module record;
        std::string name;
        std::vector<unsigned char> cvRecord;
    };
    std::vector<Module> modules() const;

    // A MINIDUMP_STRING as UTF-8 (ASCII only is converted exactly; others become '?').
    std::string string(uint32_t rva) const;
    // Bytes of process memory from the memory list, when a range holds all of them.
    std::optional<std::string> memory(uint64_t address, size_t size) const;
    // Whether [address, address+size) lies within the file.
    bool inFile(uint32_t rva, uint64_t size) const { return uint64_t{rva} + size <= m_data.size(); }

private:
    template <typename T>
    std::optional<T> read(uint64_t offset) const;
    template <typename T>
    std::optional<T> whole(uint32_t type) const;  // a stream that is exactly one T
    template <typename T>
    std::vector<T> list(uint32_t type) const;

    std::string m_data;
    bool m_valid = false;
    std::string m_error;
    tavisk_crash::md::Header m_header{};
    std::vector<tavisk_crash::md::Directory> m_directory;
};

}  // namespace crash_test
