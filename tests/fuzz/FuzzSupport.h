// Shared by the fuzz targets: a check that ends the run as a finding, and input split
// into fields.
#pragma once

#include "support/Files.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// A broken property is a finding: print it and abort, which libFuzzer and the replay
// both report with the input that caused it.
void Require(bool condition, const char* property);

// The input's bytes as text; not NUL-terminated, so an overread is caught.
std::string_view InputText(const std::uint8_t* data, std::size_t size);

// The first `count` fields, each ended by a NUL, then the rest of the input as one
// more field; fields the input runs out before are empty.
std::vector<std::string_view> SplitFields(std::string_view input, std::size_t count);

// A folder of this process's own for files a target writes; removed at exit.
const std::string& ScratchFolder();

// Whole-file access that does not go through the code under test.
void WriteFileBytes(const std::string& path, std::string_view bytes);
using test_support::ReadFile;
