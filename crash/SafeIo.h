// Small helpers that are safe inside a signal handler: raw system calls, no heap, no locks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <sys/types.h>

namespace tavisk_crash::safe {

int Gettid();
int Getpid();
int Tgkill(int pid, int tid, int signo);

// Opens with O_CLOEXEC added; retries on EINTR. Returns -1 on failure.
int Open(const char* path, int flags, int mode = 0);
void Close(int fd);
bool WriteAll(int fd, const void* data, size_t size);
// Reads a whole (proc) file into buf, at most cap bytes. Returns the byte count, 0 on failure.
size_t ReadFile(const char* path, char* buf, size_t cap);
// Positioned read that retries on EINTR and short reads; returns bytes read, -1 on error.
ssize_t PreadFull(int fd, void* buf, size_t size, uint64_t offset);

// Creates every missing folder of dir (an absolute path), mode 0700.
bool MakeDirs(const char* dir);

uint64_t MonotonicNs();
void SleepNs(uint64_t ns);

// Futex on a 32-bit word: wait while *word == expected (timeoutNs 0: no timeout), wake all.
void FutexWait(const volatile int* word, int expected, uint64_t timeoutNs);
void FutexWakeAll(const volatile int* word);

void BlockSignal(int signo, bool block);
void SetDefaultAction(int signo);

// Text helpers. Both write a terminating zero and return the end of the text written.
char* FormatUnsigned(char* out, uint64_t value);
size_t Length(const char* text);
// Parses an unsigned number in the given base; advances *cursor; false when no digit.
bool ParseUnsigned(const char** cursor, const char* end, int base, uint64_t* value);

}  // namespace tavisk_crash::safe
