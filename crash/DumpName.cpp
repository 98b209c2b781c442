// Where the dump goes: beside the program, or in the user's state folder when that fails.
#include "crash/CrashInternal.h"

#include <cstring>

namespace tavisk_crash {

namespace {

// The file name's start and the end of its stem (its last "." that is not the leading one).
void SplitProgramName(const char* path, size_t length, size_t* nameStart, size_t* stemEnd)
{
    size_t start = 0;
    for (size_t i = 0; i < length; ++i)
        if (path[i] == '/') start = i + 1;
    size_t end = length;
    for (size_t i = length; i > start + 1; --i) {
        if (path[i - 1] == '.') {
            end = i - 1;
            break;
        }
    }
    *nameStart = start;
    *stemEnd = end;
}

bool Append(char* out, size_t outSize, size_t* used, const char* text, size_t length)
{
    if (*used + length >= outSize) return false;
    std::memcpy(out + *used, text, length);
    *used += length;
    out[*used] = '\0';
    return true;
}

}  // namespace

void CopyCut(char* dst, size_t dstSize, const char* src)
{
    if (dstSize == 0) return;
    size_t n = 0;
    while (n + 1 < dstSize && src[n] != '\0') {
        dst[n] = src[n];
        ++n;
    }
    dst[n] = '\0';
}

bool FormDumpName(const char* programPath, char* out, size_t outSize)
{
    if (outSize == 0) return false;
    out[0] = '\0';
    const size_t length = std::strlen(programPath);
    size_t nameStart, stemEnd;
    SplitProgramName(programPath, length, &nameStart, &stemEnd);
    if (stemEnd == nameStart) return false;
    size_t used = 0;
    if (!Append(out, outSize, &used, programPath, stemEnd) || !Append(out, outSize, &used, ".dmp", 4)) {
        out[0] = '\0';
        return false;
    }
    return true;
}

bool FormFallbackDumpPath(const char* programPath, const char* stateHome, const char* home, char* dir, size_t dirSize,
                          char* file, size_t fileSize)
{
    if (dirSize == 0 || fileSize == 0) return false;
    dir[0] = '\0';
    file[0] = '\0';
    const size_t length = std::strlen(programPath);
    size_t nameStart, stemEnd;
    SplitProgramName(programPath, length, &nameStart, &stemEnd);
    const char* stem = programPath + nameStart;
    const size_t stemLength = stemEnd - nameStart;
    if (stemLength == 0) return false;

    const char* base;
    size_t baseLength;
    const char* suffix = "";
    if (stateHome != nullptr && stateHome[0] == '/') {
        base = stateHome;
    } else if (home != nullptr && home[0] == '/') {
        base = home;
        suffix = "/.local/state";
    } else {
        return false;
    }
    baseLength = std::strlen(base);
    while (baseLength > 1 && base[baseLength - 1] == '/') --baseLength;
    if (baseLength == 1) baseLength = 0;  // "/" itself: the folders below start with their own "/"

    size_t used = 0;
    bool ok = Append(dir, dirSize, &used, base, baseLength) &&
              Append(dir, dirSize, &used, suffix, std::strlen(suffix)) && Append(dir, dirSize, &used, "/", 1) &&
              Append(dir, dirSize, &used, stem, stemLength);
    size_t fileUsed = 0;
    ok = ok && Append(file, fileSize, &fileUsed, dir, used) && Append(file, fileSize, &fileUsed, "/", 1) &&
         Append(file, fileSize, &fileUsed, stem, stemLength) && Append(file, fileSize, &fileUsed, ".dmp", 4);
    if (!ok) {
        dir[0] = '\0';
        file[0] = '\0';
    }
    return ok;
}

}  // namespace tavisk_crash
