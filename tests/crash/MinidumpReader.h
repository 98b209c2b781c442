// A reader of the MDMP files the crash handler writes, for checking them field by field.
#pragma once

#include "crash/MinidumpFormat.h"

#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace crash_test {

namespace md = tavisk_crash::md;

class MinidumpReader {
public:
    explicit MinidumpReader(const std::string& path);

    bool valid() const { return m_valid; }
    const std::string& error() const { return m_error; }
    const md::Header& header() const { return m_header; }
    size_t fileSize() const { return m_data.size(); }

    bool hasStream(uint32_t type) const { return find(type) != nullptr; }
    // The raw bytes of a stream (empty when absent).
    std::string stream(uint32_t type) const
    {
        const md::Directory* d = find(type);
        return d ? m_data.substr(d->location.rva, d->location.dataSize) : std::string();
    }

    std::vector<md::Thread> threads() const { return list<md::Thread>(md::kThreadListStream); }
    std::vector<md::MemoryDescriptor> memoryList() const { return list<md::MemoryDescriptor>(md::kMemoryListStream); }
    std::optional<md::ExceptionStream> exception() const { return whole<md::ExceptionStream>(md::kExceptionStream); }
    std::optional<md::SystemInfo> systemInfo() const { return whole<md::SystemInfo>(md::kSystemInfoStream); }
    std::optional<md::MiscInfo> miscInfo() const { return whole<md::MiscInfo>(md::kMiscInfoStream); }
    std::optional<md::ContextAmd64> context(const md::LocationDescriptor& where) const
    {
        if (where.dataSize != sizeof(md::ContextAmd64)) return std::nullopt;
        return read<md::ContextAmd64>(where.rva);
    }

    struct Module {
        md::Module record;
        std::string name;
        std::vector<unsigned char> cvRecord;
    };
    std::vector<Module> modules() const;

    // A MINIDUMP_STRING as UTF-8 (ASCII only is converted exactly; others become '?').
    std::string string(uint32_t rva) const;
    // Bytes of process memory from the memory list, when a range holds all of them.
    std::optional<std::string> memory(uint64_t address, size_t size) const;

private:
    // Whether [rva, rva+size) lies within the file.
    bool inFile(uint64_t rva, uint64_t size) const { return rva + size <= m_data.size(); }
    const md::Directory* find(uint32_t type) const;

    template <typename T>
    std::optional<T> read(uint64_t offset) const
    {
        if (!inFile(offset, sizeof(T))) return std::nullopt;
        T value;
        std::memcpy(&value, m_data.data() + offset, sizeof value);
        return value;
    }
    // A stream that is exactly one T.
    template <typename T>
    std::optional<T> whole(uint32_t type) const
    {
        const md::Directory* d = find(type);
        if (!d || d->location.dataSize != sizeof(T)) return std::nullopt;
        return read<T>(d->location.rva);
    }
    // A stream that is a count and exactly that many T: readers use the size to find the list.
    template <typename T>
    std::vector<T> list(uint32_t type) const
    {
        const md::Directory* d = find(type);
        const auto count = d ? read<uint32_t>(d->location.rva) : std::nullopt;
        if (!count || d->location.dataSize != 4 + uint64_t{*count} * sizeof(T)) return {};
        std::vector<T> items;
        for (uint32_t i = 0; i < *count; ++i) items.push_back(*read<T>(d->location.rva + 4 + uint64_t{i} * sizeof(T)));
        return items;
    }

    std::string m_data;
    bool m_valid = false;
    std::string m_error;
    md::Header m_header{};
    std::vector<md::Directory> m_directory;
};

}  // namespace crash_test
