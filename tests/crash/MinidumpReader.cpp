#include "MinidumpReader.h"

#include "CrashTestSupport.h"

namespace crash_test {

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

const md::Directory* MinidumpReader::find(uint32_t type) const
{
    for (const md::Directory& d : m_directory)
        if (d.streamType == type) return &d;
    return nullptr;
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
    if (!length || !inFile(uint64_t{rva} + 4, uint64_t{*length} + 2)) return {};
    std::string text;
    for (uint32_t i = 0; i < *length / 2; ++i) {
        const uint16_t unit = *read<uint16_t>(uint64_t{rva} + 4 + i * 2);
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
