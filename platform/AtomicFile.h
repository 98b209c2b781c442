// Whole-file reads and all-or-nothing replacement of small text files.
#pragma once

#include <optional>
#include <string>
#include <sys/types.h>

struct FileContents {
    std::string bytes;
    std::optional<mode_t> mode;  // permission bits of the file; none when it does not exist
};

// The file's bytes; empty contents when it does not exist; nothing when it exists but
// cannot be read as a regular file (a folder, no permission, a read error).
std::optional<FileContents> ReadWholeFile(const std::string& path);

// Writes a new file beside the old one, flushes it to disk and renames it over the old
// one, so a crash or a full disk leaves either the old or the new file, never a part.
// The new file gets the given permission bits, or the usual ones for a new file.
bool ReplaceFileAtomically(const std::string& path, const std::string& bytes, std::optional<mode_t> mode);

// The file a path names, through symbolic links, so that a replacement goes to the
// link's target instead of replacing the link; the path itself when nothing exists there.
std::string ResolvedWritePath(const std::string& path);
