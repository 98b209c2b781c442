#include "castorn/Mp4Defragmenter.h"

#include "castorn/Mp4Box.h"
#include "castorn/Mp4Fragments.h"
#include "castorn/Mp4MovieBox.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <limits>
#include <optional>

namespace castorn {

namespace {

constexpr std::uint64_t kNarrow = std::numeric_limits<std::uint32_t>::max();
constexpr std::size_t kCopyBlock = 1 << 20;

std::string Folder(const std::string& path)
{
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

std::string SystemError(const std::string& what)
{
    return what + ": " + std::strerror(errno);
}

bool WriteAll(int fd, std::string_view bytes)
{
    while (!bytes.empty()) {
        const ssize_t done = write(fd, bytes.data(), bytes.size());
        if (done < 0 && errno == EINTR) continue;
        if (done <= 0) return false;
        bytes.remove_prefix(static_cast<std::size_t>(done));
    }
    return true;
}

// Through the kernel where it can, else through a buffer.
bool CopyRange(int from, std::uint64_t at, std::uint64_t size, int to)
{
    auto offset = static_cast<off_t>(at);
    while (size > 0) {
        const ssize_t done = copy_file_range(from, &offset, to, nullptr, size, 0);
        if (done > 0) {
            size -= static_cast<std::uint64_t>(done);
            continue;
        }
        if (done < 0 && errno == EINTR) continue;
        if (done == 0 || (errno != EXDEV && errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP)) return false;
        break;
    }
    std::string block(std::min<std::uint64_t>(size, kCopyBlock), '\0');
    while (size > 0) {
        const ssize_t got = pread(from, block.data(), std::min<std::uint64_t>(size, block.size()), offset);
        if (got <= 0 || !WriteAll(to, std::string_view(block.data(), static_cast<std::size_t>(got)))) return false;
        offset += got;
        size -= static_cast<std::uint64_t>(got);
    }
    return true;
}

std::string MediaHeader(std::uint64_t dataSize)
{
    BoxWriter out;
    if (dataSize + 8 > kNarrow) {
        out.U32(1);
        out.Append("mdat");
        out.Put(dataSize + 16, 8);
    } else {
        out.U32(static_cast<std::uint32_t>(dataSize + 8));
        out.Append("mdat");
    }
    return out.Bytes();
}

// The moov and where the media data will begin after it; 64-bit chunk offsets only
// when 32 bits cannot reach the end.
std::optional<std::string> MovieFor(const FragmentedMp4& movie, std::uint64_t headerSize)
{
    for (const bool wide : {false, true}) {
        const auto sized = OrdinaryMovieBox(movie, 0, wide);
        if (!sized) return std::nullopt;
        const std::uint64_t mediaAt = movie.ftyp.size() + sized->size() + headerSize;
        if (wide || mediaAt + movie.MediaSize() <= kNarrow) return OrdinaryMovieBox(movie, mediaAt, wide);
    }
    return std::nullopt;
}

// The file that takes the recording's place: unnamed until it is whole where the
// file system allows, so that nothing of it stays behind a crash.
class Replacement {
public:
    Replacement(const std::string& path, mode_t mode)
        : m_path(path), m_temporary(Folder(path) + "/." + path.substr(path.rfind('/') + 1) + ".part")
    {
        m_fd = open(Folder(path).c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, mode);
        if (m_fd >= 0) return;
        unlink(m_temporary.c_str());
        m_fd = open(m_temporary.c_str(), O_CREAT | O_EXCL | O_RDWR | O_CLOEXEC, mode);
        m_named = m_fd >= 0;
    }
    ~Replacement()
    {
        if (m_fd >= 0) close(m_fd);
        if (m_named) unlink(m_temporary.c_str());
    }
    Replacement(const Replacement&) = delete;
    Replacement& operator=(const Replacement&) = delete;

    int Fd() const { return m_fd; }

    bool Commit(std::string& why)
    {
        if (fsync(m_fd) != 0) return Failed(why, "cannot write " + m_temporary);
        if (!m_named) {
            unlink(m_temporary.c_str());
            const std::string self = "/proc/self/fd/" + std::to_string(m_fd);
            if (linkat(AT_FDCWD, self.c_str(), AT_FDCWD, m_temporary.c_str(), AT_SYMLINK_FOLLOW) != 0)
                return Failed(why, "cannot name " + m_temporary);
            m_named = true;
        }
        if (rename(m_temporary.c_str(), m_path.c_str()) != 0) return Failed(why, "cannot replace " + m_path);
        m_named = false;
        SyncFolder();
        return true;
    }

private:
    static bool Failed(std::string& why, const std::string& what)
    {
        why = SystemError(what);
        return false;
    }

    void SyncFolder() const
    {
        const int folder = open(Folder(m_path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (folder < 0) return;
        fsync(folder);
        close(folder);
    }

    std::string m_path;
    std::string m_temporary;
    int m_fd = -1;
    bool m_named = false;
};

bool WriteOrdinary(int from, const FragmentedMp4& movie, int to, std::string& why)
{
    const std::string mediaHeader = MediaHeader(movie.MediaSize());
    const auto moov = MovieFor(movie, mediaHeader.size());
    if (!moov) {
        why = "the moov box's headers cannot be read";
        return false;
    }
    bool written = WriteAll(to, movie.ftyp) && WriteAll(to, *moov) && WriteAll(to, mediaHeader);
    for (const Mp4MediaData& data : movie.mediaData) written = written && CopyRange(from, data.at, data.size, to);
    if (!written) why = SystemError("cannot write the ordinary MP4");
    return written;
}

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : m_fd(fd) {}
    ~FileDescriptor()
    {
        if (m_fd >= 0) close(m_fd);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return m_fd; }

private:
    int m_fd;
};

}  // namespace

bool DefragmentMp4(const std::string& path, std::string& why)
{
    const FileDescriptor from(open(path.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat stats {};
    if (from.get() < 0 || fstat(from.get(), &stats) != 0) {
        why = SystemError("cannot read " + path);
        return false;
    }
    FragmentedMp4 movie;
    if (!ReadFragmentedMp4(from.get(), movie, why)) return false;
    Replacement replacement(path, stats.st_mode & 07777);
    if (replacement.Fd() < 0) {
        why = SystemError("cannot write beside " + path);
        return false;
    }
    return WriteOrdinary(from.get(), movie, replacement.Fd(), why) && replacement.Commit(why);
}

}  // namespace castorn
