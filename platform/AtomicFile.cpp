#include "platform/AtomicFile.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Closes the descriptor when the scope ends.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : m_fd(fd) {}
    ~FileDescriptor()
    {
        if (m_fd >= 0) ::close(m_fd);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return m_fd; }
    // Closing can report a write the kernel could not complete.
    bool Close()
    {
        const int fd = m_fd;
        m_fd = -1;
        return ::close(fd) == 0;
    }

private:
    int m_fd;
};

bool ReadAll(int fd, std::string& out)
{
    char chunk[4096];
    for (;;) {
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n == 0) return true;
        if (n < 0 && errno != EINTR) return false;
        if (n > 0) out.append(chunk, static_cast<std::size_t>(n));
    }
}

bool WriteAll(int fd, const std::string& bytes)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno != EINTR) return false;
        if (n > 0) done += static_cast<std::size_t>(n);
    }
    return true;
}

// A fresh file beside the target; O_EXCL so that no other file is ever reused. Created
// with no more than the bits it will have, so that nobody else can open it meanwhile;
// without any, 0666 lets the umask give a new file its usual permissions.
int CreateSibling(const std::string& target, std::string& name, std::optional<mode_t> mode)
{
    static std::atomic<unsigned> counter{0};
    constexpr int kAttempts = 100;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        name = target + ".tmp." + std::to_string(::getpid()) + '.' + std::to_string(counter++);
        const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode.value_or(0666));
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    return -1;
}

bool FillAndSync(FileDescriptor& file, const std::string& bytes, std::optional<mode_t> mode)
{
    const bool written =
        WriteAll(file.get(), bytes) && (!mode || ::fchmod(file.get(), *mode) == 0) && ::fsync(file.get()) == 0;
    return file.Close() && written;
}

}  // namespace

std::optional<FileContents> ReadWholeFile(const std::string& path)
{
    // O_NONBLOCK: a pipe of that name must not hang the program.
    FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (file.get() < 0) return errno == ENOENT ? std::optional<FileContents>(FileContents{}) : std::nullopt;
    struct stat info {};
    if (::fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
    FileContents contents;
    contents.mode = info.st_mode & 07777;
    if (!ReadAll(file.get(), contents.bytes)) return std::nullopt;
    return contents;
}

bool ReplaceFileAtomically(const std::string& path, const std::string& bytes, std::optional<mode_t> mode)
{
    std::string sibling;
    FileDescriptor file(CreateSibling(path, sibling, mode));
    if (file.get() < 0) return false;
    if (FillAndSync(file, bytes, mode) && std::rename(sibling.c_str(), path.c_str()) == 0) return true;
    ::unlink(sibling.c_str());
    return false;
}

std::string ResolvedWritePath(const std::string& path)
{
    char* real = ::realpath(path.c_str(), nullptr);
    if (!real) return path;
    std::string resolved(real);
    std::free(real);
    return resolved;
}
