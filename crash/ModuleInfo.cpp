// GetModulePath and GetModuleFileVersion: the program's path and the version its file carries.
#include "crash/CrashInternal.h"
#include "crash/ElfNotes.h"
#include "crash/SafeIo.h"

#include <climits>
#include <cstring>
#include <elf.h>
#include <fcntl.h>
#include <unistd.h>

namespace tavisk_crash {

const uint8_t* FindElfNote(const uint8_t* notes, size_t size, size_t alignment, const char* owner, uint32_t type,
                           uint32_t* descSize)
{
    const size_t ownerSize = safe::Length(owner) + 1;
    auto align = [alignment](uint64_t n) { return (n + alignment - 1) & ~static_cast<uint64_t>(alignment - 1); };
    size_t offset = 0;
    while (offset + sizeof(Elf64_Nhdr) <= size) {
        Elf64_Nhdr header;
        std::memcpy(&header, notes + offset, sizeof header);
        const uint64_t nameOffset = offset + sizeof header;
        const uint64_t descOffset = nameOffset + align(header.n_namesz);
        const uint64_t next = descOffset + align(header.n_descsz);
        if (descOffset + header.n_descsz > size) return nullptr;
        if (header.n_type == type && header.n_namesz == ownerSize &&
            std::memcmp(notes + nameOffset, owner, ownerSize) == 0) {
            *descSize = header.n_descsz;
            return notes + descOffset;
        }
        offset = static_cast<size_t>(next);
    }
    return nullptr;
}

bool GetModulePath(char* buffer, int size)
{
    if (buffer == nullptr || size <= 0) return false;
    char path[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) {
        buffer[0] = '\0';
        return false;
    }
    size_t length =
        static_cast<size_t>(n) < static_cast<size_t>(size - 1) ? static_cast<size_t>(n) : static_cast<size_t>(size - 1);
    std::memcpy(buffer, path, length);
    buffer[length] = '\0';
    return length > 0;
}

namespace {

bool ReadVersionNote(int fd, uint64_t offset, uint64_t size, uint64_t alignment, uint16_t parts[4])
{
    uint8_t notes[16384];
    if (size == 0) return false;
    if (size > sizeof notes) size = sizeof notes;
    ssize_t n = safe::PreadFull(fd, notes, size, offset);
    if (n <= 0) return false;
    uint32_t descSize = 0;
    const uint8_t* desc = FindElfNote(notes, static_cast<size_t>(n), alignment == 8 ? 8 : 4, kVersionNoteOwner,
                                      kVersionNoteType, &descSize);
    if (desc == nullptr || descSize != kVersionNoteDescSize) return false;
    std::memcpy(parts, desc, kVersionNoteDescSize);
    return true;
}

// Where a program or section header says its notes are; size 0 when it holds none.
struct NoteArea {
    uint64_t offset = 0;
    uint64_t size = 0;
    uint64_t alignment = 0;
};

NoteArea NotesOf(const Elf64_Phdr& header)
{
    return header.p_type == PT_NOTE ? NoteArea{header.p_offset, header.p_filesz, header.p_align} : NoteArea{};
}

NoteArea NotesOf(const Elf64_Shdr& header)
{
    return header.sh_type == SHT_NOTE ? NoteArea{header.sh_offset, header.sh_size, header.sh_addralign} : NoteArea{};
}

// Walks a table of program or section headers for the version note.
template <class Header>
bool FindVersionInTable(int fd, uint64_t tableOffset, unsigned count, unsigned entrySize, unsigned limit,
                        uint16_t parts[4])
{
    for (unsigned i = 0; i < count && i < limit; ++i) {
        Header header;
        if (entrySize < sizeof header ||
            safe::PreadFull(fd, &header, sizeof header, tableOffset + uint64_t{i} * entrySize) != sizeof header)
            return false;
        const NoteArea notes = NotesOf(header);
        if (ReadVersionNote(fd, notes.offset, notes.size, notes.alignment, parts)) return true;
    }
    return false;
}

bool FindVersion(int fd, uint16_t parts[4])
{
    Elf64_Ehdr eh;
    if (safe::PreadFull(fd, &eh, sizeof eh, 0) != static_cast<ssize_t>(sizeof eh) ||
        std::memcmp(eh.e_ident, ELFMAG, SELFMAG) != 0 || eh.e_ident[EI_CLASS] != ELFCLASS64 ||
        eh.e_ident[EI_DATA] != ELFDATA2LSB)
        return false;
    // The note segments first (they survive strip), then the note sections.
    return FindVersionInTable<Elf64_Phdr>(fd, eh.e_phoff, eh.e_phnum, eh.e_phentsize, 1024, parts) ||
           FindVersionInTable<Elf64_Shdr>(fd, eh.e_shoff, eh.e_shnum, eh.e_shentsize, 65536, parts);
}

}  // namespace

bool GetModuleFileVersion(const char* path, uint16_t* part1, uint16_t* part2, uint16_t* part3, uint16_t* part4)
{
    if (path == nullptr || *path == '\0') return false;
    int fd = safe::Open(path, O_RDONLY);
    if (fd < 0) return false;
    uint16_t parts[4] = {};
    const bool found = FindVersion(fd, parts);
    safe::Close(fd);
    if (!found) return false;
    uint16_t* outputs[4] = {part1, part2, part3, part4};
    for (int i = 0; i < 4; ++i)
        if (outputs[i] != nullptr) *outputs[i] = parts[i];
    return true;
}

}  // namespace tavisk_crash
