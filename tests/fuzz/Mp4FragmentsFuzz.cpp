// A finished recording as the disk gives it back, made an ordinary MP4: whatever the
// bytes, the rewrite either leaves the file exactly as it was and says why, or leaves an
// ordinary MP4 (no fragments, the index first) that it does not take for fragments again.
// Input: the file's bytes.
#include "FuzzSupport.h"

#include "castorn/Mp4Defragmenter.h"

#include <algorithm>

namespace {

std::uint64_t Number(std::string_view bytes, std::size_t at, int count)
{
    std::uint64_t value = 0;
    for (int i = 0; i < count; ++i) value = value << 8 | static_cast<unsigned char>(bytes[at + i]);
    return value;
}

// The top-level types, read here rather than by the code under test; "?" for a broken box.
std::vector<std::string> TopLevel(std::string_view bytes)
{
    std::vector<std::string> types;
    for (std::size_t at = 0; at < bytes.size();) {
        std::uint64_t size = bytes.size() - at >= 8 ? Number(bytes, at, 4) : 0;
        if (size == 1 && bytes.size() - at >= 16) size = Number(bytes, at + 8, 8);
        if (size < 8 || size > bytes.size() - at) {
            types.push_back("?");
            break;
        }
        types.emplace_back(bytes.substr(at + 4, 4));
        at += size;
    }
    return types;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view input = InputText(data, size);
    const std::string path = ScratchFolder() + "/recording.mp4";
    WriteFileBytes(path, input);
    std::string why;
    if (!castorn::DefragmentMp4(path, why)) {
        Require(ReadFile(path) == input, "a file that is not rewritten stays as it was");
        Require(!why.empty(), "a file that is not rewritten is told why");
        return 0;
    }
    const std::string written = ReadFile(path);
    const std::vector<std::string> boxes = TopLevel(written);
    const auto moov = std::find(boxes.begin(), boxes.end(), "moov");
    const auto mdat = std::find(boxes.begin(), boxes.end(), "mdat");
    Require(std::count(boxes.begin(), boxes.end(), "moof") == 0 && std::count(boxes.begin(), boxes.end(), "?") == 0,
            "the rewritten file is whole boxes without fragments");
    Require(moov != boxes.end() && mdat != boxes.end() && moov < mdat, "the index comes before the media data");
    Require(!castorn::DefragmentMp4(path, why) && ReadFile(path) == written, "an ordinary file is left as it is");
    return 0;
}
