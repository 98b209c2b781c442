// A fragmented MP4 read whole: its ftyp and moov as they are, and every track's
// samples and runs gathered from the moof boxes, with where each run's data lands
// once every mdat's data is laid end to end in the order of the file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace castorn {

struct Mp4Sample {
    std::uint32_t duration = 0;
    std::uint32_t size = 0;
    std::uint32_t flags = 0;
    std::uint32_t compositionOffset = 0;                  // as stored: signed when the run says so
    bool Sync() const { return (flags & 0x10000) == 0; }  // sample_is_non_sync_sample clear
};

struct Mp4Run {
    std::uint64_t offset = 0;  // in the media data laid end to end
    std::uint32_t count = 0;
    std::uint32_t descriptionIndex = 1;
};

struct Mp4SampleDefaults {
    std::uint32_t descriptionIndex = 1;
    std::uint32_t duration = 0;
    std::uint32_t size = 0;
    std::uint32_t flags = 0;
};

struct Mp4Track {
    std::uint32_t id = 0;
    Mp4SampleDefaults defaults;  // the trex's
    bool signedOffsets = false;  // a trun of version 1 gave them
    std::uint64_t start = 0;     // when its first sample begins, in its own timescale
    std::uint64_t end = 0;       // when its last one ends
    std::uint64_t Duration() const { return end - start; }
    std::vector<Mp4Sample> samples;
    std::vector<Mp4Run> runs;
};

struct Mp4MediaData {
    std::uint64_t at = 0;  // the data, past the mdat's header
    std::uint64_t size = 0;
};

struct FragmentedMp4 {
    std::string ftyp;
    std::string moov;
    std::vector<Mp4Track> tracks;
    std::vector<Mp4MediaData> mediaData;
    std::uint64_t MediaSize() const;
};

// False, with what is wrong, for a file that is not a whole fragmented MP4 that an
// ordinary one can say the same as.
bool ReadFragmentedMp4(int fd, FragmentedMp4& movie, std::string& why);

}  // namespace castorn
