// WriteMiniDump: the minidump of the stopped process, in the MDMP format that lldb and
// minidump_stackwalk read. Memory is read through /proc/self/mem, so a bad address gives
// zeros instead of a second fault; every buffer was mapped at installation.
#include "crash/CrashInternal.h"
#include "crash/ElfNotes.h"
#include "crash/SafeIo.h"
#include "crash/ThreadStopper.h"

#include <atomic>
#include <cpuid.h>
#include <csetjmp>
#include <cstring>
#include <ctime>
#include <elf.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/utsname.h>
#include <unistd.h>

namespace tavisk_crash {

void (*volatile s_pfnWriterTestHook)() = nullptr;

namespace {

constexpr int kMaxStreams = 12;
constexpr uint32_t kDirectoryRva = sizeof(md::Header);
constexpr uint32_t kFirstStreamRva = kDirectoryRva + kMaxStreams * sizeof(md::Directory);
constexpr size_t kMapsCapacity = 16u << 20;
constexpr int kMaxMappings = 65536;
constexpr int kMaxModules = 4096;
constexpr int kMaxMemoryRanges = kMaxThreads + 8;
constexpr size_t kCopyCapacity = 1u << 20;
constexpr size_t kOutCapacity = 64u << 10;
constexpr size_t kUtf16Capacity = 8192;  // code units of one string
constexpr uint64_t kMaxStackCapture = 256u << 10;
constexpr uint64_t kRedZone = 128;
constexpr uint64_t kStackOverflowReach = 1u << 20;  // how far below its stack a stack pointer may have run
constexpr uint64_t kCodeAroundFault = 256;
constexpr size_t kMaxBuildId = 64;

struct Mapping {
    uint64_t start;
    uint64_t end;
    uint64_t offset;
    uint64_t inode;
    uint64_t device;
    uint32_t pathOffset;  // into the maps text
    uint32_t pathLength;
    char perms[4];
};

struct ModuleEntry {
    uint64_t base;
    uint64_t size;
    uint32_t pathOffset;
    uint32_t pathLength;
    uint32_t buildIdLength;
    uint8_t buildId[kMaxBuildId];
    uint32_t nameRva;
    uint32_t cvRva;
    bool isProgram;
};

struct ThreadEntry {
    uint64_t stackStart;
    uint64_t stackSize;
    uint32_t stackRva;
    uint32_t contextRva;
};

// Mapped at installation.
struct Workspace {
    char maps[kMapsCapacity];
    Mapping mappings[kMaxMappings];
    ModuleEntry modules[kMaxModules];
    ThreadEntry threads[kMaxThreads];
    md::MemoryDescriptor ranges[kMaxMemoryRanges];
    uint8_t copy[kCopyCapacity];
    uint8_t out[kOutCapacity];
    uint16_t utf16[kUtf16Capacity + 1];
};

Workspace* s_work = nullptr;

// Prepared at installation.
md::SystemInfo s_systemInfo;
char s_osDescription[512];
uint64_t s_pageSize = 4096;

// The writer's progress; static so that leaving it by a jump keeps what was written.
sigjmp_buf s_writerJump;
std::atomic<bool> s_insideWriter{false};
int s_memFd = -1;
size_t s_mapsSize = 0;
int s_mappingCount = 0;
md::Directory s_directory[kMaxStreams];
int s_streamCount = 0;

// ---- output: sequential, buffered; RVAs are file offsets -------------------------------

struct Output {
    int fd = -1;
    uint64_t flushed = 0;  // bytes already written to the file
    size_t used = 0;       // bytes waiting in the buffer
    bool failed = false;

    uint64_t Position() const { return flushed + used; }

    void Flush()
    {
        if (used > 0 && !failed && !safe::WriteAll(fd, s_work->out, used)) failed = true;
        flushed += used;
        used = 0;
    }

    void Write(const void* data, size_t size)
    {
        const uint8_t* p = static_cast<const uint8_t*>(data);
        while (size > 0) {
            if (used == kOutCapacity) Flush();
            size_t n = size < kOutCapacity - used ? size : kOutCapacity - used;
            std::memcpy(s_work->out + used, p, n);
            used += n;
            p += n;
            size -= n;
        }
    }

    void Zeros(size_t size)
    {
        while (size > 0) {
            if (used == kOutCapacity) Flush();
            size_t n = size < kOutCapacity - used ? size : kOutCapacity - used;
            std::memset(s_work->out + used, 0, n);
            used += n;
            size -= n;
        }
    }

    uint32_t Align(size_t alignment)
    {
        uint64_t pos = Position();
        uint64_t padded = (pos + alignment - 1) & ~static_cast<uint64_t>(alignment - 1);
        Zeros(static_cast<size_t>(padded - pos));
        return static_cast<uint32_t>(padded);
    }

    uint32_t Append(const void* data, size_t size, size_t alignment = 8)
    {
        uint32_t rva = Align(alignment);
        Write(data, size);
        return rva;
    }

    // Copies process memory through /proc/self/mem; unreadable pages become zeros.
    uint32_t AppendMemory(uint64_t address, uint64_t size)
    {
        uint32_t rva = Align(16);
        while (size > 0) {
            if (used == kOutCapacity) Flush();
            size_t room = kOutCapacity - used;
            size_t n = size < room ? static_cast<size_t>(size) : room;
            ssize_t got = s_memFd >= 0 ? safe::PreadFull(s_memFd, s_work->out + used, n, address) : -1;
            if (got <= 0) {
                uint64_t toPage = s_pageSize - (address & (s_pageSize - 1));
                got = static_cast<ssize_t>(toPage < n ? toPage : n);
                std::memset(s_work->out + used, 0, static_cast<size_t>(got));
            }
            used += static_cast<size_t>(got);
            address += static_cast<uint64_t>(got);
            size -= static_cast<uint64_t>(got);
        }
        return rva;
    }

    // A MINIDUMP_STRING: byte length, UTF-16 text, a zero unit.
    uint32_t AppendString(const char* text, size_t length);
};

Output s_out;

uint32_t Output::AppendString(const char* text, size_t length)
{
    uint16_t* units = s_work->utf16;
    size_t count = 0;
    size_t i = 0;
    while (i < length && count + 2 <= kUtf16Capacity) {
        uint8_t c = static_cast<uint8_t>(text[i]);
        uint32_t cp = 0xFFFD;
        size_t extra = 0;
        if (c < 0x80) {
            cp = c;
        } else if ((c & 0xE0) == 0xC0) {
            cp = c & 0x1F;
            extra = 1;
        } else if ((c & 0xF0) == 0xE0) {
            cp = c & 0x0F;
            extra = 2;
        } else if ((c & 0xF8) == 0xF0) {
            cp = c & 0x07;
            extra = 3;
        }
        ++i;
        if (c >= 0x80 && extra == 0) {
            cp = 0xFFFD;
        } else {
            for (size_t k = 0; k < extra; ++k, ++i) {
                if (i >= length || (static_cast<uint8_t>(text[i]) & 0xC0) != 0x80) {
                    cp = 0xFFFD;
                    break;
                }
                cp = (cp << 6) | (static_cast<uint8_t>(text[i]) & 0x3F);
            }
        }
        if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = 0xFFFD;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            units[count++] = static_cast<uint16_t>(0xD800 + (cp >> 10));
            units[count++] = static_cast<uint16_t>(0xDC00 + (cp & 0x3FF));
        } else {
            units[count++] = static_cast<uint16_t>(cp);
        }
    }
    units[count] = 0;
    uint32_t bytes = static_cast<uint32_t>(count * 2);
    uint32_t rva = Append(&bytes, sizeof bytes, 4);
    Write(units, (count + 1) * 2);
    return rva;
}

void AddStream(uint32_t type, uint32_t rva, uint64_t size)
{
    if (s_streamCount >= kMaxStreams) return;
    s_directory[s_streamCount++] = md::Directory{type, md::LocationDescriptor{static_cast<uint32_t>(size), rva}};
}

// ---- /proc/self/maps --------------------------------------------------------------------

void ParseMaps()
{
    s_mappingCount = 0;
    const char* p = s_work->maps;
    const char* end = p + s_mapsSize;
    while (p < end && s_mappingCount < kMaxMappings) {
        const char* lineEnd = static_cast<const char*>(std::memchr(p, '\n', static_cast<size_t>(end - p)));
        if (lineEnd == nullptr) lineEnd = end;
        Mapping m{};
        uint64_t major = 0, minor = 0;
        const char* c = p;
        bool ok = safe::ParseUnsigned(&c, lineEnd, 16, &m.start) && c < lineEnd && *c++ == '-' &&
                  safe::ParseUnsigned(&c, lineEnd, 16, &m.end) && c + 5 < lineEnd && *c++ == ' ';
        if (ok) {
            std::memcpy(m.perms, c, 4);
            c += 4;
            ok = *c++ == ' ' && safe::ParseUnsigned(&c, lineEnd, 16, &m.offset) && c < lineEnd && *c++ == ' ' &&
                 safe::ParseUnsigned(&c, lineEnd, 16, &major) && c < lineEnd && *c++ == ':' &&
                 safe::ParseUnsigned(&c, lineEnd, 16, &minor) && c < lineEnd && *c++ == ' ' &&
                 safe::ParseUnsigned(&c, lineEnd, 10, &m.inode);
        }
        if (ok) {
            while (c < lineEnd && *c == ' ') ++c;
            m.device = (major << 32) | minor;
            m.pathOffset = static_cast<uint32_t>(c - s_work->maps);
            m.pathLength = static_cast<uint32_t>(lineEnd - c);
            s_work->mappings[s_mappingCount++] = m;
        }
        p = lineEnd + 1;
    }
}

const Mapping* FindMapping(uint64_t address)
{
    for (int i = 0; i < s_mappingCount; ++i) {
        const Mapping& m = s_work->mappings[i];
        if (address >= m.start && address < m.end) return &m;
    }
    return nullptr;
}

// ---- streams ---------------------------------------------------------------------------

void WriteSystemInfo()
{
    md::SystemInfo info = s_systemInfo;
    info.csdVersionRva = s_out.AppendString(s_osDescription, safe::Length(s_osDescription));
    uint32_t rva = s_out.Append(&info, sizeof info);
    AddStream(md::kSystemInfoStream, rva, sizeof info);
}

void WriteMiscInfo()
{
    md::MiscInfo misc{};
    misc.sizeOfInfo = sizeof misc;
    misc.flags1 = md::kMiscProcessId;
    misc.processId = static_cast<uint32_t>(safe::Getpid());
    uint32_t rva = s_out.Append(&misc, sizeof misc);
    AddStream(md::kMiscInfoStream, rva, sizeof misc);
}

uint32_t WriteException(const CrashInfo* info)
{
    uint32_t contextRva = s_out.Append(&info->context, sizeof info->context, 16);
    md::ExceptionStream stream{};
    stream.threadId = static_cast<uint32_t>(info->threadId);
    stream.exceptionRecord.exceptionCode = static_cast<uint32_t>(info->signo);
    stream.exceptionRecord.exceptionFlags = static_cast<uint32_t>(info->code);
    stream.exceptionRecord.exceptionAddress = info->faultAddress;
    stream.threadContext = md::LocationDescriptor{sizeof info->context, contextRva};
    uint32_t rva = s_out.Append(&stream, sizeof stream);
    AddStream(md::kExceptionStream, rva, sizeof stream);
    return contextRva;
}

void WriteProcFile(uint32_t type, const char* path)
{
    size_t size = safe::ReadFile(path, reinterpret_cast<char*>(s_work->copy), kCopyCapacity);
    uint32_t rva = s_out.Append(s_work->copy, size);
    AddStream(type, rva, size);
}

void WriteLinuxStreams()
{
    uint32_t rva = s_out.Append(s_work->maps, s_mapsSize);
    AddStream(md::kLinuxMaps, rva, s_mapsSize);
    WriteProcFile(md::kLinuxProcStatus, "/proc/self/status");
    WriteProcFile(md::kLinuxCmdLine, "/proc/self/cmdline");
    WriteProcFile(md::kLinuxAuxv, "/proc/self/auxv");
}

bool IsListed(const StoppedThread& t)
{
    return t.state.load(std::memory_order_acquire) != kThreadGone;
}

void StackRange(uint64_t sp, uint64_t* start, uint64_t* size)
{
    *start = 0;
    *size = 0;
    if (sp == 0) return;
    const Mapping* m = FindMapping(sp);
    if (m == nullptr) {
        // Past the end of its stack (an overflow): the stack is the nearest mapping above.
        for (int i = 0; i < s_mappingCount; ++i) {
            const Mapping& above = s_work->mappings[i];
            if (above.start > sp && above.start - sp <= kStackOverflowReach && (m == nullptr || above.start < m->start))
                m = &above;
        }
        if (m == nullptr) return;
    }
    uint64_t low = sp >= kRedZone ? sp - kRedZone : 0;
    if (low < m->start) low = m->start;
    uint64_t high = m->end;
    if (high - low > kMaxStackCapture) high = low + kMaxStackCapture;
    *start = low;
    *size = high - low;
}

// Thread contexts and stacks, then the thread list. Returns the number of memory ranges used.
int WriteThreads(const CrashInfo* info, uint32_t crashContextRva)
{
    const int count = StoppedThreadCount();
    uint32_t listed = 0;
    int ranges = 0;
    for (int i = 0; i < count; ++i) {
        const StoppedThread& t = *StoppedThreadAt(i);
        ThreadEntry& e = s_work->threads[i];
        e = ThreadEntry{};
        if (!IsListed(t)) continue;
        ++listed;
        const bool crashing = t.tid.load(std::memory_order_relaxed) == info->threadId;
        const md::ContextAmd64& context = crashing ? info->context : t.context;
        e.contextRva = crashing ? crashContextRva : s_out.Append(&context, sizeof context, 16);
        StackRange(context.rsp, &e.stackStart, &e.stackSize);
        if (e.stackSize > 0) {
            e.stackRva = s_out.AppendMemory(e.stackStart, e.stackSize);
            if (ranges < kMaxMemoryRanges)
                s_work->ranges[ranges++] =
                    md::MemoryDescriptor{e.stackStart, {static_cast<uint32_t>(e.stackSize), e.stackRva}};
        }
    }
    uint32_t rva = s_out.Append(&listed, sizeof listed);
    for (int i = 0; i < count; ++i) {
        const StoppedThread& t = *StoppedThreadAt(i);
        if (!IsListed(t)) continue;
        const ThreadEntry& e = s_work->threads[i];
        md::Thread entry{};
        entry.threadId = static_cast<uint32_t>(t.tid.load(std::memory_order_relaxed));
        entry.teb = t.teb;
        entry.stack = md::MemoryDescriptor{e.stackStart, {static_cast<uint32_t>(e.stackSize), e.stackRva}};
        entry.threadContext = md::LocationDescriptor{sizeof(md::ContextAmd64), e.contextRva};
        s_out.Write(&entry, sizeof entry);
    }
    AddStream(md::kThreadListStream, rva, sizeof listed + listed * sizeof(md::Thread));
    return ranges;
}

void WriteMemoryList(const CrashInfo* info, int ranges)
{
    // The code around the faulting instruction, when it is mapped and not already in a stack.
    const uint64_t ip = info->context.rip;
    const Mapping* m = ip != 0 ? FindMapping(ip) : nullptr;
    if (m != nullptr && ranges < kMaxMemoryRanges) {
        uint64_t start =
            ip - kCodeAroundFault / 2 < m->start || ip < kCodeAroundFault / 2 ? m->start : ip - kCodeAroundFault / 2;
        uint64_t end = start + kCodeAroundFault > m->end ? m->end : start + kCodeAroundFault;
        bool overlaps = false;
        for (int i = 0; i < ranges; ++i) {
            const md::MemoryDescriptor& r = s_work->ranges[i];
            if (start < r.startOfMemoryRange + r.memory.dataSize && r.startOfMemoryRange < end) overlaps = true;
        }
        if (!overlaps && end > start) {
            uint32_t rva = s_out.AppendMemory(start, end - start);
            s_work->ranges[ranges++] = md::MemoryDescriptor{start, {static_cast<uint32_t>(end - start), rva}};
        }
    }
    uint32_t count = static_cast<uint32_t>(ranges);
    uint32_t rva = s_out.Append(&count, sizeof count);
    s_out.Write(s_work->ranges, sizeof(md::MemoryDescriptor) * count);
    AddStream(md::kMemoryListStream, rva, sizeof count + sizeof(md::MemoryDescriptor) * count);
}

// The GNU build id of the ELF image mapped at base, read from its note segments in memory.
void ReadBuildId(ModuleEntry& module)
{
    Elf64_Ehdr eh;
    if (safe::PreadFull(s_memFd, &eh, sizeof eh, module.base) != sizeof eh || eh.e_phentsize < sizeof(Elf64_Phdr))
        return;
    // Load bias: the segment at file offset 0 is mapped at base.
    uint64_t bias = module.base;
    bool haveBias = false;
    for (unsigned pass = 0; pass < 2; ++pass) {
        for (unsigned i = 0; i < eh.e_phnum && i < 256; ++i) {
            Elf64_Phdr ph;
            if (safe::PreadFull(s_memFd, &ph, sizeof ph, module.base + eh.e_phoff + uint64_t{i} * eh.e_phentsize) !=
                sizeof ph)
                return;
            if (pass == 0 && ph.p_type == PT_LOAD && !haveBias) {
                bias = module.base - ((ph.p_vaddr - ph.p_offset) & ~(s_pageSize - 1));
                haveBias = true;
            }
            if (pass == 1 && ph.p_type == PT_NOTE) {
                uint64_t size = ph.p_memsz < kCopyCapacity ? ph.p_memsz : kCopyCapacity;
                ssize_t got = safe::PreadFull(s_memFd, s_work->copy, size, bias + ph.p_vaddr);
                if (got <= 0) continue;
                uint32_t descSize = 0;
                const uint8_t* desc = FindElfNote(s_work->copy, static_cast<size_t>(got), ph.p_align == 8 ? 8 : 4,
                                                  "GNU", kGnuBuildIdNoteType, &descSize);
                if (desc != nullptr && descSize > 0 && descSize <= kMaxBuildId) {
                    std::memcpy(module.buildId, desc, descSize);
                    module.buildIdLength = descSize;
                    return;
                }
            }
        }
    }
}

int CollectModules()
{
    static const char kDeleted[] = " (deleted)";
    const size_t programLength = safe::Length(s_szProgram);
    int count = 0;
    for (int i = 0; i < s_mappingCount && count < kMaxModules; ++i) {
        const Mapping& m = s_work->mappings[i];
        const char* path = s_work->maps + m.pathOffset;
        if (m.pathLength == 0 || path[0] != '/' || m.offset != 0) continue;
        unsigned char magic[SELFMAG + 1];
        if (safe::PreadFull(s_memFd, magic, sizeof magic, m.start) != sizeof magic ||
            std::memcmp(magic, ELFMAG, SELFMAG) != 0 || magic[EI_CLASS] != ELFCLASS64)
            continue;
        ModuleEntry& module = s_work->modules[count];
        module = ModuleEntry{};
        module.base = m.start;
        uint64_t end = m.end;
        for (int j = i + 1; j < s_mappingCount; ++j) {
            const Mapping& next = s_work->mappings[j];
            if (next.inode != m.inode || next.device != m.device || next.offset == 0) break;
            end = next.end;
        }
        module.size = end - m.start;
        module.pathOffset = m.pathOffset;
        module.pathLength = m.pathLength;
        const size_t deletedLength = sizeof kDeleted - 1;
        if (module.pathLength > deletedLength &&
            std::memcmp(path + module.pathLength - deletedLength, kDeleted, deletedLength) == 0)
            module.pathLength -= deletedLength;
        module.isProgram = module.pathLength == programLength && std::memcmp(path, s_szProgram, programLength) == 0;
        ReadBuildId(module);
        ++count;
    }
    return count;
}

void WriteModules()
{
    const int count = CollectModules();
    for (int i = 0; i < count; ++i) {
        ModuleEntry& module = s_work->modules[i];
        module.nameRva = s_out.AppendString(s_work->maps + module.pathOffset, module.pathLength);
        if (module.buildIdLength > 0) {
            uint32_t signature = md::kCvSignatureElfBuildId;
            module.cvRva = s_out.Append(&signature, sizeof signature, 4);
            s_out.Write(module.buildId, module.buildIdLength);
        }
    }
    const uint16_t* version = s_wVersion;
    const bool haveVersion = s_bHaveVersion;
    uint32_t listed = static_cast<uint32_t>(count);
    uint32_t rva = s_out.Append(&listed, sizeof listed);
    // The program first, as readers take the first module for the main one.
    for (int pass = 0; pass < 2; ++pass) {
        for (int i = 0; i < count; ++i) {
            const ModuleEntry& module = s_work->modules[i];
            if (module.isProgram != (pass == 0)) continue;
            md::Module entry{};
            entry.baseOfImage = module.base;
            entry.sizeOfImage = static_cast<uint32_t>(module.size);
            entry.moduleNameRva = module.nameRva;
            if (module.isProgram && haveVersion) {
                entry.versionInfo.signature = md::kFixedFileInfoSignature;
                entry.versionInfo.strucVersion = 0x00010000;
                entry.versionInfo.fileVersionMs = (uint32_t{version[0]} << 16) | version[1];
                entry.versionInfo.fileVersionLs = (uint32_t{version[2]} << 16) | version[3];
                entry.versionInfo.productVersionMs = entry.versionInfo.fileVersionMs;
                entry.versionInfo.productVersionLs = entry.versionInfo.fileVersionLs;
            }
            if (module.buildIdLength > 0)
                entry.cvRecord = md::LocationDescriptor{4 + module.buildIdLength, module.cvRva};
            s_out.Write(&entry, sizeof entry);
        }
    }
    AddStream(md::kModuleListStream, rva, sizeof listed + listed * sizeof(md::Module));
}

void WriteStreams(const CrashInfo* info)
{
    s_mapsSize = safe::ReadFile("/proc/self/maps", s_work->maps, kMapsCapacity);
    ParseMaps();
    WriteSystemInfo();
    WriteMiscInfo();
    const uint32_t crashContextRva = WriteException(info);
    const int ranges = WriteThreads(info, crashContextRva);
    WriteMemoryList(info, ranges);
    if (s_pfnWriterTestHook != nullptr) s_pfnWriterTestHook();
    WriteModules();
    WriteLinuxStreams();
}

// The header and the directory of the streams completed so far.
void FinishDump()
{
    s_out.Flush();
    md::Header header{};
    header.signature = md::kSignature;
    header.version = md::kVersion;
    header.numberOfStreams = static_cast<uint32_t>(s_streamCount);
    header.streamDirectoryRva = kDirectoryRva;
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    header.timeDateStamp = static_cast<uint32_t>(now.tv_sec);
    if (pwrite(s_out.fd, &header, sizeof header, 0) != sizeof header) s_out.failed = true;
    const size_t directorySize = sizeof(md::Directory) * static_cast<size_t>(s_streamCount);
    if (directorySize > 0 &&
        pwrite(s_out.fd, s_directory, directorySize, kDirectoryRva) != static_cast<ssize_t>(directorySize))
        s_out.failed = true;
}

}  // namespace

bool InsideWriter()
{
    return s_insideWriter.load(std::memory_order_acquire);
}

void LeaveWriter()
{
    s_insideWriter.store(false, std::memory_order_release);
    siglongjmp(s_writerJump, 1);
}

void WriteMiniDump(const CrashInfo* info)
{
    if (s_hDumpFile < 0 || s_work == nullptr || info == nullptr) return;
    s_out = Output{};
    s_out.fd = s_hDumpFile;
    s_streamCount = 0;
    s_out.Zeros(kFirstStreamRva);  // header and directory come last, in place
    s_memFd = safe::Open("/proc/self/mem", O_RDONLY);
    if (sigsetjmp(s_writerJump, 1) == 0) {
        s_insideWriter.store(true, std::memory_order_release);
        WriteStreams(info);
        s_insideWriter.store(false, std::memory_order_release);
    }
    // Also reached after a fault inside the writer: keep the streams that are complete.
    FinishDump();
    safe::Close(s_memFd);
    s_memFd = -1;
}

bool PrepareMinidumpWriter()
{
    if (s_work == nullptr) {
        void* memory = mmap(nullptr, sizeof(Workspace), PROT_READ | PROT_WRITE,
                            MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
        if (memory == MAP_FAILED) return false;
        s_work = static_cast<Workspace*>(memory);
    }
    long page = sysconf(_SC_PAGESIZE);
    if (page > 0) s_pageSize = static_cast<uint64_t>(page);

    md::SystemInfo info{};
    info.processorArchitecture = md::kArchitectureAmd64;
    info.platformId = md::kPlatformLinux;
    long cpus = sysconf(_SC_NPROCESSORS_CONF);
    info.numberOfProcessors = static_cast<uint8_t>(cpus <= 0 ? 1 : cpus > 255 ? 255 : cpus);
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (__get_cpuid(0, &eax, &ebx, &ecx, &edx)) {
        info.vendorId[0] = ebx;
        info.vendorId[1] = edx;
        info.vendorId[2] = ecx;
    }
    if (__get_cpuid(1, &eax, &ebx, &ecx, &edx)) {
        unsigned family = (eax >> 8) & 0xf;
        unsigned model = (eax >> 4) & 0xf;
        if (family == 0xf) family += (eax >> 20) & 0xff;
        if (family == 6 || family >= 0xf) model |= ((eax >> 16) & 0xf) << 4;
        info.processorLevel = static_cast<uint16_t>(family);
        info.processorRevision = static_cast<uint16_t>((model << 8) | (eax & 0xf));
        info.versionInformation = eax;
        info.featureInformation = edx;
    }
    if (__get_cpuid(0x80000001, &eax, &ebx, &ecx, &edx)) info.amdExtendedCpuFeatures = edx;
    utsname uts{};
    s_osDescription[0] = '\0';
    if (uname(&uts) == 0) {
        const char* p = uts.release;
        const char* end = p + safe::Length(p);
        uint64_t number = 0;
        uint32_t* parts[3] = {&info.majorVersion, &info.minorVersion, &info.buildNumber};
        for (uint32_t* part : parts) {
            if (!safe::ParseUnsigned(&p, end, 10, &number)) break;
            *part = static_cast<uint32_t>(number);
            if (p < end && *p == '.')
                ++p;
            else
                break;
        }
        const char* words[] = {uts.sysname, uts.release, uts.version, uts.machine};
        size_t used = 0;
        for (const char* word : words) {
            size_t len = safe::Length(word);
            if (used + len + 2 > sizeof s_osDescription) break;
            if (used > 0) s_osDescription[used++] = ' ';
            std::memcpy(s_osDescription + used, word, len);
            used += len;
            s_osDescription[used] = '\0';
        }
    }
    s_systemInfo = info;
    return true;
}

}  // namespace tavisk_crash
