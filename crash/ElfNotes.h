// ELF notes: the GNU build id of a module and the version marker of a program file.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tavisk_crash {

// The version marker that CrashHandler.cpp places in every program linking this module.
constexpr char kVersionNoteOwner[] = "Tavisk";  // with its zero: 7 bytes
constexpr uint32_t kVersionNoteType = 1;
constexpr uint32_t kVersionNoteDescSize = 8;  // four 16-bit parts, most significant first

constexpr uint32_t kGnuBuildIdNoteType = 3;  // NT_GNU_BUILD_ID, owner "GNU"

// Looks for a note of the given owner and type in a block of notes (alignment 4 or 8).
// Returns its descriptor and size, or null.
const uint8_t* FindElfNote(const uint8_t* notes, size_t size, size_t alignment, const char* owner, uint32_t type,
                           uint32_t* descSize);

}  // namespace tavisk_crash
