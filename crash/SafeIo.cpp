#include "crash/SafeIo.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <ctime>
#include <fcntl.h>
#include <linux/futex.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace tavisk_crash::safe {

int Gettid()
{
    return static_cast<int>(syscall(SYS_gettid));
}

int Getpid()
{
    return static_cast<int>(syscall(SYS_getpid));
}

int Tgkill(int pid, int tid, int signo)
{
    return static_cast<int>(syscall(SYS_tgkill, pid, tid, signo));
}

int Open(const char* path, int flags, int mode)
{
    int fd;
    do {
        fd = open(path, flags | O_CLOEXEC, mode);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

void Close(int fd)
{
    if (fd >= 0) close(fd);  // never retried: on Linux the descriptor is gone even after EINTR
}

bool WriteAll(int fd, const void* data, size_t size)
{
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        ssize_t n = write(fd, p, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

size_t ReadFile(const char* path, char* buf, size_t cap)
{
    int fd = Open(path, O_RDONLY);
    if (fd < 0) return 0;
    size_t total = 0;
    while (total < cap) {
        ssize_t n = read(fd, buf + total, cap - total);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        total += static_cast<size_t>(n);
    }
    Close(fd);
    return total;
}

ssize_t PreadFull(int fd, void* buf, size_t size, uint64_t offset)
{
    if (offset > static_cast<uint64_t>(LLONG_MAX)) return -1;
    size_t total = 0;
    while (total < size) {
        ssize_t n = pread(fd, static_cast<char*>(buf) + total, size - total, static_cast<off_t>(offset + total));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        total += static_cast<size_t>(n);
    }
    if (total == 0 && size > 0) return -1;
    return static_cast<ssize_t>(total);
}

bool MakeDirs(const char* dir)
{
    char path[PATH_MAX];
    size_t len = Length(dir);
    if (len == 0 || len >= sizeof path || dir[0] != '/') return false;
    for (size_t i = 0; i <= len; ++i) {
        path[i] = dir[i];
        if ((dir[i] == '/' && i > 0) || dir[i] == '\0') {
            path[i] = '\0';
            if (mkdir(path, 0700) != 0 && errno != EEXIST) return false;
            path[i] = dir[i];
        }
    }
    return true;
}

uint64_t MonotonicNs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1000000000ull + static_cast<uint64_t>(ts.tv_nsec);
}

void SleepNs(uint64_t ns)
{
    timespec ts{static_cast<time_t>(ns / 1000000000ull), static_cast<long>(ns % 1000000000ull)};
    nanosleep(&ts, nullptr);
}

void FutexWait(const volatile int* word, int expected, uint64_t timeoutNs)
{
    timespec ts{static_cast<time_t>(timeoutNs / 1000000000ull), static_cast<long>(timeoutNs % 1000000000ull)};
    syscall(SYS_futex, word, FUTEX_WAIT_PRIVATE, expected, timeoutNs ? &ts : nullptr, nullptr, 0);
}

void FutexWakeAll(const volatile int* word)
{
    syscall(SYS_futex, word, FUTEX_WAKE_PRIVATE, INT_MAX, nullptr, nullptr, 0);
}

void BlockSignal(int signo, bool block)
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, signo);
    sigprocmask(block ? SIG_BLOCK : SIG_UNBLOCK, &set, nullptr);
}

void SetDefaultAction(int signo)
{
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    sigaction(signo, &action, nullptr);
}

char* FormatUnsigned(char* out, uint64_t value)
{
    char digits[24];
    int n = 0;
    do {
        digits[n++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    while (n > 0) *out++ = digits[--n];
    *out = '\0';
    return out;
}

size_t Length(const char* text)
{
    size_t n = 0;
    while (text[n] != '\0') ++n;
    return n;
}

bool ParseUnsigned(const char** cursor, const char* end, int base, uint64_t* value)
{
    const char* p = *cursor;
    if (base == 16 && end - p >= 2 && p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) p += 2;
    uint64_t v = 0;
    const char* first = p;
    for (; p < end; ++p) {
        int digit;
        if (*p >= '0' && *p <= '9')
            digit = *p - '0';
        else if (base == 16 && *p >= 'a' && *p <= 'f')
            digit = *p - 'a' + 10;
        else if (base == 16 && *p >= 'A' && *p <= 'F')
            digit = *p - 'A' + 10;
        else
            break;
        v = v * static_cast<uint64_t>(base) + static_cast<uint64_t>(digit);
    }
    if (p == first) return false;
    *cursor = p;
    *value = v;
    return true;
}

}  // namespace tavisk_crash::safe
