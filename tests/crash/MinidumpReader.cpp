#include "MinidumpReader.h"

#include "CrashTestSupport.h"

#include <cstring>

namespace crash_test {

namespace md = tavisk_crash::md;

MinidumpReader::MinidumpReader(const std::string& path) : m_data(ReadFile(path))
{
    auto header = read<md::Header>(0);
    if (!header) {
        m_error = "file too short for a header";
        return;
    }
    m_header = *header;
    if (m_header.signature != md::kSignature || (m_header.version & 0xffff) != md::kVersion) {
        m_error = "bad signature or version";
        return;
    }
    for (uint32_t i = 0; i < m_header.numberOfStreams; ++i) {
        auto entry = read<md::Directory>(uint64_t{m_header.streamDirectoryRva} + i * sizeof(md::Directory));
        if (!entry || !inFile(entry->location.rva, entry->location.dataSize)) {
            m_error = "stream outside the file";
            return;
        }
        m_directory.push_back(*entry);
    }
    m_valid = true;
}

template <typename T>
std::optional<T> MinidumpReader::read(uint64_t offset) const
{
    if (offset + sizeof(T) > m_data.size()) return std::nullopt;
    T value;
    std::memcpy(&value, m_data.data() + offset, sizeof value);
    return value;
}

bool MinidumpReader::hasStream(uint32_t type) const
{
    for (const md::Directory& d : m_directory)
        if (d.streamType == type) return true;
    return false;
}

std::string MinidumpReader::stream(uint32_t type) const
{
    for (const md::Directory& d : m_directory)
        if (d.streamType == type) return m_data.substr(d.location.rva, d.location.dataSize);
    return {};
}

template <typename T>
std::optional<T> MinidumpReader::whole(uint32_t type) const
{
    const std::string bytes = stream(type);
    if (bytes.size() != sizeof(T)) return std::nullopt;
    T value;
    std::memcpy(&value, bytes.data(), sizeof value);
    return value;
}

template <typename T>
std::vector<T> MinidumpReader::list(uint32_t type) const
{
    std::vector<T> items;
    const std::string bytes = stream(type);
    if (bytes.size() < 4) return items;
    uint32_t count;
    std::memcpy(&count, bytes.data(), 4);
    if (bytes.size() != 4 + size_t{count} * sizeof(T))
        return items;  // the size must match exactly: readers use it to find the list
    for (uint32_t i = 0; i < count; ++i) {
        T item;
        std::memcpy(&item, bytes.data() + 4 + size_t{i} * sizeof(T), sizeof item);
        items.push_back(item);
    }
    return items;
}

std::vector<md::Thread> MinidumpReader::threads() const
{
    return list<md::Thread>(md::kThreadListStream);
}

std::optional<md::ContextAmd64> MinidumpReader::context(const md::LocationDescriptor& where) const
{
    if (where.dataSize != sizeof(md::ContextAmd64)) return std::nullopt;
    return read<md::ContextAmd64>(where.rva);
}

std::vector<md::MemoryDescriptor> MinidumpReader::memoryList() const
{
    return list<md::MemoryDescriptor>(md::kMemoryListStream);
}

std::optional<md::ExceptionStream> MinidumpReader::exception() const
{
    return whole<md::ExceptionStream>(md::kExceptionStream);
}

std::optional<md::SystemInfo> MinidumpReader::systemInfo() const
{
    return whole<md::SystemInfo>(md::kSystemInfoStream);
}

std::optional<md::MiscInfo> MinidumpReader::miscInfo() const
{
    return whole<md::MiscInfo>(md::kMiscInfoStream);
}

std::vector<MinidumpReader::Module> MinidumpReader::modules() const
{
    std::vector<Module> result;
    for (const md::Module& record : list<md::Module>(md::kModuleListStream)) {
        Module m{record, string(record.moduleNameRva), {}};
        if (record.cvRecord.dataSize > 0 && inFile(record.cvRecord.rva, record.cvRecord.dataSize))
            m.cvRecord.assign(m_data.begin() + record.cvRecord.rva,
                              m_data.begin() + record.cvRecord.rva + record.cvRecord.dataSize);
        result.push_back(m);
    }
    return result;
}

std::string MinidumpReader::string(uint32_t rva) const
{
    auto length = read<uint32_t>(rva);
    if (!length || !inFile(rva + 4, *length + 2)) return {};
    std::string text;
    for (uint32_t i = 0; i < *length / 2; ++i) {
        uint16_t unit;
        std::memcpy(&unit, m_data.data() + rva + 4 + i * 2, 2);
        text += unit < 0x80 ? static_cast<char>(unit) : '?';
    }
    return text;
}

std::optional<std::string> MinidumpReader::memory(uint64_t address, size_t size) const
{
    for (const md::MemoryDescriptor& d : memoryList()) {
        if (address >= d.startOfMemoryRange && address + size <= d.startOfMemoryRange + d.memory.dataSize)
            return m_data.substr(d.memory.rva + (address - d.startOfMemoryRange), size);
    }
    return std::nullopt;
}

}  // namespace crash_test
