#include "castorn/Mp4Fragments.h"

#include "castorn/Mp4Box.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <limits>
#include <numeric>
#include <optional>

namespace castorn {

namespace {

// A moov or moof is read into memory whole; a bigger one is not a recording's.
constexpr std::uint64_t kMaxIndexBox = 64 * 1024 * 1024;
// A run that gives no field per sample holds at most this many.
constexpr std::uint32_t kMaxDefaultRun = 1 << 20;

namespace trun {
constexpr std::uint32_t kDataOffset = 0x1;
constexpr std::uint32_t kFirstSampleFlags = 0x4;
constexpr std::uint32_t kDuration = 0x100;
constexpr std::uint32_t kSize = 0x200;
constexpr std::uint32_t kFlags = 0x400;
constexpr std::uint32_t kCompositionOffset = 0x800;
}  // namespace trun

namespace tfhd {
constexpr std::uint32_t kBaseDataOffset = 0x1;
constexpr std::uint32_t kDescriptionIndex = 0x2;
constexpr std::uint32_t kDuration = 0x8;
constexpr std::uint32_t kSize = 0x10;
constexpr std::uint32_t kFlags = 0x20;
constexpr std::uint32_t kBaseIsMoof = 0x20000;
}  // namespace tfhd

bool ReadAt(int fd, std::uint64_t at, std::uint64_t count, std::string& bytes)
{
    bytes.resize(count);
    for (std::uint64_t done = 0; done < count;) {
        const ssize_t got = pread(fd, bytes.data() + done, count - done, static_cast<off_t>(at + done));
        if (got <= 0) return false;
        done += static_cast<std::uint64_t>(got);
    }
    return true;
}

std::string Where(const Mp4Box& box)
{
    return "the " + box.type + " box at byte " + std::to_string(box.at);
}

// What one traf says of the samples that follow: the track's defaults as the tfhd
// overrides them, and where the data is counted from.
struct TrackFragmentHeader {
    std::uint32_t trackId = 0;
    std::uint32_t flags = 0;
    std::uint64_t baseDataOffset = 0;
    Mp4SampleDefaults defaults;
};

TrackFragmentHeader ReadTfhd(std::string_view box, const std::vector<Mp4Track>& tracks, bool& ok)
{
    ByteReader reader(Payload(box));
    TrackFragmentHeader header;
    header.flags = reader.U32() & 0xffffff;
    header.trackId = reader.U32();
    const auto track = std::ranges::find_if(tracks, [&](const Mp4Track& t) { return t.id == header.trackId; });
    ok = track != tracks.end();
    if (!ok) return header;
    header.defaults = track->defaults;
    if (header.flags & tfhd::kBaseDataOffset) header.baseDataOffset = reader.Read(8);
    if (header.flags & tfhd::kDescriptionIndex) header.defaults.descriptionIndex = reader.U32();
    if (header.flags & tfhd::kDuration) header.defaults.duration = reader.U32();
    if (header.flags & tfhd::kSize) header.defaults.size = reader.U32();
    if (header.flags & tfhd::kFlags) header.defaults.flags = reader.U32();
    ok = reader.ok();
    return header;
}

std::optional<std::uint64_t> ReadTfdt(std::string_view box)
{
    ByteReader reader(Payload(box));
    const std::uint64_t version = reader.Read(4) >> 24;
    const std::uint64_t time = reader.Read(version == 1 ? 8 : 4);
    return reader.ok() ? std::optional(time) : std::nullopt;
}

int PerSampleBytes(std::uint32_t flags)
{
    int bytes = 0;
    for (std::uint32_t field : {trun::kDuration, trun::kSize, trun::kFlags, trun::kCompositionOffset})
        if (flags & field) bytes += 4;
    return bytes;
}

class FragmentReader {
public:
    FragmentReader(int fd, FragmentedMp4& movie, std::string& why) : m_fd(fd), m_movie(movie), m_why(why) {}

    bool Read()
    {
        struct stat stats {};
        if (fstat(m_fd, &stats) != 0) return Fail("cannot read the file");
        std::vector<Mp4Box> boxes;
        if (!ListTopLevel(static_cast<std::uint64_t>(stats.st_size), boxes)) return false;
        for (const Mp4Box& box : boxes)
            if (!ReadTopLevel(box)) return false;
        if (m_movie.ftyp.empty() || m_movie.moov.empty()) return Fail("no ftyp or no moov box");
        if (m_fragments == 0) return Fail("not a fragmented MP4: no moof box");
        return true;
    }

private:
    bool Fail(std::string why)
    {
        m_why = std::move(why);
        return false;
    }

    bool ListTopLevel(std::uint64_t size, std::vector<Mp4Box>& boxes)
    {
        std::string head;
        for (std::uint64_t at = 0; at < size;) {
            Mp4Box& box = boxes.emplace_back();
            if (!ReadAt(m_fd, at, std::min<std::uint64_t>(16, size - at), head) ||
                !ReadBoxHeader(head, at, size - at, box))
                return Fail("the file ends inside a box, at byte " + std::to_string(at));
            if (box.type == "mdat") m_movie.mediaData.push_back({box.PayloadAt(), box.size - box.header});
            at = box.End();
        }
        m_laidAt.resize(m_movie.mediaData.size());
        std::transform_exclusive_scan(m_movie.mediaData.begin(), m_movie.mediaData.end(), m_laidAt.begin(),
                                      std::uint64_t{0}, std::plus<>(),
                                      [](const Mp4MediaData& data) { return data.size; });
        return true;
    }

    bool ReadTopLevel(const Mp4Box& box)
    {
        if (box.type == "mdat" || box.type == "mfra" || box.type == "free" || box.type == "skip" ||
            box.type == "sidx" || box.type == "styp")
            return true;  // data, or an index of the fragments that goes with them
        if (box.type == "ftyp") return ReadWhole(box, m_movie.ftyp);
        if (box.type == "moov" && !m_movie.moov.empty()) return Fail("a second moov box: " + Where(box));
        if (box.type == "moov") return ReadWhole(box, m_movie.moov) && ReadMovie();
        if (box.type == "moof") return ReadFragment(box);
        return Fail("a box the rewrite does not know: " + Where(box));
    }

    bool ReadWhole(const Mp4Box& box, std::string& bytes)
    {
        if (box.size > kMaxIndexBox) return Fail(Where(box) + " is too big");
        if (!ReadAt(m_fd, box.at, box.size, bytes)) return Fail("cannot read " + Where(box));
        return true;
    }

    bool ReadMovie()
    {
        std::vector<Mp4Box> children;
        if (!ChildBoxes(m_movie.moov, children)) return Fail("a broken moov box");
        for (const Mp4Box& child : children)
            if (child.type == "trak") m_movie.tracks.emplace_back().id = TrackId(BoxBytes(m_movie.moov, child));
        const Mp4Box* mvex = FindBox(children, "mvex");
        if (!mvex) return true;
        const std::string_view extends = BoxBytes(m_movie.moov, *mvex);
        std::vector<Mp4Box> trexes;
        if (!ChildBoxes(extends, trexes)) return Fail("a broken mvex box");
        for (const Mp4Box& trex : trexes)
            if (trex.type == "trex" && !ReadTrex(BoxBytes(extends, trex))) return Fail("a broken trex box");
        return true;
    }

    static std::uint32_t TrackId(std::string_view trak)
    {
        std::vector<Mp4Box> children;
        const Mp4Box* tkhd = ChildBoxes(trak, children) ? FindBox(children, "tkhd") : nullptr;
        if (!tkhd) return 0;
        ByteReader reader(Payload(BoxBytes(trak, *tkhd)));
        reader.Skip(reader.Read(1) == 1 ? 3 + 16 : 3 + 8);  // flags, then the creation and modification times
        return reader.U32();
    }

    bool ReadTrex(std::string_view trex)
    {
        ByteReader reader(Payload(trex));
        reader.Skip(4);
        const std::uint32_t id = reader.U32();
        Mp4Track* track = Track(id);
        if (!track) return false;
        track->defaults = {reader.U32(), reader.U32(), reader.U32(), reader.U32()};
        return reader.ok();
    }

    Mp4Track* Track(std::uint32_t id)
    {
        const auto found = std::ranges::find_if(m_movie.tracks, [id](const Mp4Track& track) { return track.id == id; });
        return found == m_movie.tracks.end() ? nullptr : &*found;
    }

    bool ReadFragment(const Mp4Box& box)
    {
        if (m_movie.tracks.empty()) return Fail(Where(box) + " comes before the moov box");
        std::string moof;
        if (!ReadWhole(box, moof)) return false;
        std::vector<Mp4Box> children;
        if (!ChildBoxes(moof, children)) return Fail("a broken " + Where(box));
        // Without an offset of its own, a traf's data follows the one before it.
        std::uint64_t dataEnd = box.at;
        for (const Mp4Box& traf : children)
            if (traf.type == "traf" && !ReadTrackFragment(BoxBytes(moof, traf), box.at, dataEnd))
                return Fail(m_why + " in " + Where(box));
        ++m_fragments;
        return true;
    }

    bool ReadTrackFragment(std::string_view traf, std::uint64_t moofAt, std::uint64_t& dataEnd)
    {
        std::vector<Mp4Box> children;
        const Mp4Box* tfhd = ChildBoxes(traf, children) ? FindBox(children, "tfhd") : nullptr;
        if (!tfhd) return Fail("a traf without tfhd");
        bool ok = false;
        const TrackFragmentHeader header = ReadTfhd(BoxBytes(traf, *tfhd), m_movie.tracks, ok);
        if (!ok) return Fail("a broken tfhd, or one of a track the moov has not");
        Mp4Track& track = *Track(header.trackId);
        if (const Mp4Box* tfdt = FindBox(children, "tfdt"); tfdt && !Resume(track, ReadTfdt(BoxBytes(traf, *tfdt))))
            return false;
        std::uint64_t dataAt = header.flags & tfhd::kBaseDataOffset ? header.baseDataOffset
                               : header.flags & tfhd::kBaseIsMoof   ? moofAt
                                                                    : dataEnd;
        const std::uint64_t base = dataAt;
        for (const Mp4Box& trun : children)
            if (trun.type == "trun" && !ReadRun(BoxBytes(traf, trun), track, header.defaults, base, dataAt))
                return false;
        dataEnd = dataAt;
        return true;
    }

    // A track's first fragment says when it begins. A later one that begins after the
    // samples before it end: the last of them lasts until then, as a reader of the
    // fragments plays it.
    bool Resume(Mp4Track& track, std::optional<std::uint64_t> time)
    {
        if (!time) return Fail("a broken tfdt");
        if (track.samples.empty()) track.start = track.end = *time;
        if (*time == track.end) return true;
        if (*time < track.end) return Fail("a fragment that goes back in time");
        const std::uint64_t longer = track.samples.back().duration + (*time - track.end);
        if (longer > std::numeric_limits<std::uint32_t>::max()) return Fail("a gap too long between fragments");
        track.samples.back().duration = static_cast<std::uint32_t>(longer);
        track.end = *time;
        return true;
    }

    bool ReadRun(std::string_view box, Mp4Track& track, const Mp4SampleDefaults& defaults, std::uint64_t base,
                 std::uint64_t& dataAt)
    {
        ByteReader reader(Payload(box));
        const std::uint32_t versionAndFlags = reader.U32();
        const std::uint32_t flags = versionAndFlags & 0xffffff;
        const std::uint32_t count = reader.U32();
        if (flags & trun::kDataOffset) dataAt = base + static_cast<std::int32_t>(reader.U32());
        const std::uint32_t firstFlags = flags & trun::kFirstSampleFlags ? reader.U32() : defaults.flags;
        const int perSample = PerSampleBytes(flags);
        if (!reader.ok() || (perSample == 0 ? count > kMaxDefaultRun : count > reader.Left() / perSample))
            return Fail("a broken trun");
        if ((versionAndFlags >> 24) == 1) track.signedOffsets = true;
        const std::size_t first = track.samples.size();
        std::uint64_t bytes = 0;
        for (std::uint32_t i = 0; i < count; ++i) {
            Mp4Sample& sample = track.samples.emplace_back();
            sample.duration = flags & trun::kDuration ? reader.U32() : defaults.duration;
            sample.size = flags & trun::kSize ? reader.U32() : defaults.size;
            sample.flags = flags & trun::kFlags ? reader.U32() : i == 0 ? firstFlags : defaults.flags;
            sample.compositionOffset = flags & trun::kCompositionOffset ? reader.U32() : 0;
            track.end += sample.duration;
            bytes += sample.size;
        }
        if (count == 0) return true;
        const std::optional<std::uint64_t> offset = Laid(dataAt, bytes);
        if (!offset) return Fail("a trun whose data is not within one mdat box");
        track.runs.push_back(
            {*offset, static_cast<std::uint32_t>(track.samples.size() - first), defaults.descriptionIndex});
        dataAt += bytes;
        return true;
    }

    // Where the bytes [at, at + size) of the file land in the media data laid end to end.
    std::optional<std::uint64_t> Laid(std::uint64_t at, std::uint64_t size) const
    {
        const auto& data = m_movie.mediaData;
        const auto after = std::ranges::upper_bound(data, at, {}, &Mp4MediaData::at);
        if (after == data.begin()) return std::nullopt;
        const Mp4MediaData& within = *(after - 1);
        if (at - within.at > within.size || size > within.size - (at - within.at)) return std::nullopt;
        return m_laidAt[static_cast<std::size_t>(after - 1 - data.begin())] + (at - within.at);
    }

    int m_fd;
    FragmentedMp4& m_movie;
    std::string& m_why;
    std::vector<std::uint64_t> m_laidAt;  // where each mdat's data lands
    int m_fragments = 0;
};

}  // namespace

std::uint64_t FragmentedMp4::MediaSize() const
{
    std::uint64_t size = 0;
    for (const Mp4MediaData& data : mediaData) size += data.size;
    return size;
}

bool ReadFragmentedMp4(int fd, FragmentedMp4& movie, std::string& why)
{
    return FragmentReader(fd, movie, why).Read();
}

}  // namespace castorn
