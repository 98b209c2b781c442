#include "castorn/Mp4MovieBox.h"

#include "castorn/Mp4Box.h"
#include "castorn/Mp4SampleTables.h"

#include <gst/gst.h>

#include <algorithm>
#include <functional>
#include <limits>
#include <numeric>
#include <vector>

namespace castorn {

namespace {

constexpr std::uint64_t kNarrow = std::numeric_limits<std::uint32_t>::max();

// mvhd, tkhd and mdhd alike: version and flags, two times, a few bytes (the timescale,
// or the track's id and a reserved word), the duration, and the rest.
struct TimedHeader {
    std::uint8_t version = 0;
    std::uint32_t flags = 0;
    std::uint64_t created = 0;
    std::uint64_t modified = 0;
    std::string middle;
    std::uint64_t duration = 0;
    std::string_view rest;
    std::uint32_t Timescale() const
    {
        return middle.size() < 4
                   ? 0
                   : static_cast<std::uint32_t>(BigEndian(reinterpret_cast<const unsigned char*>(middle.data()), 4));
    }
};

std::optional<TimedHeader> ReadTimedHeader(std::string_view box, std::size_t middleBytes)
{
    const std::string_view payload = Payload(box);
    ByteReader reader(payload);
    TimedHeader header;
    header.version = static_cast<std::uint8_t>(reader.Read(1));
    header.flags = static_cast<std::uint32_t>(reader.Read(3));
    const int time = header.version == 1 ? 8 : 4;
    header.created = reader.Read(time);
    header.modified = reader.Read(time);
    const std::size_t middleAt = payload.size() - reader.Left();
    reader.Skip(middleBytes);
    header.duration = reader.Read(time);
    if (!reader.ok() || header.version > 1) return std::nullopt;
    header.middle = std::string(payload.substr(middleAt, middleBytes));
    header.rest = payload.substr(payload.size() - reader.Left());
    return header;
}

// Version 0 kept while every time fits it.
void WriteTimedHeader(BoxWriter& out, std::string_view type, const TimedHeader& header, std::uint64_t duration)
{
    const bool wide = header.version == 1 || std::max({header.created, header.modified, duration}) > kNarrow;
    const int time = wide ? 8 : 4;
    out.BeginFull(type, wide ? 1 : 0, header.flags);
    out.Put(header.created, time);
    out.Put(header.modified, time);
    out.Append(header.middle);
    out.Put(duration, time);
    out.Append(header.rest);
    out.End();
}

// Nothing shown for `empty`, then the media from its start for `media`.
void WriteLateStart(BoxWriter& out, std::uint64_t empty, std::uint64_t media)
{
    const bool wide = std::max(empty, media) > kNarrow;
    const int field = wide ? 8 : 4;
    constexpr std::uint32_t kNormalRate = 0x10000;
    out.Begin("edts");
    out.BeginFull("elst", wide ? 1 : 0, 0);
    out.U32(2);
    out.Put(empty, field);
    out.Put(~std::uint64_t{0}, field);  // a media time of -1: an empty edit
    out.U32(kNormalRate);
    out.Put(media, field);
    out.Put(0, field);
    out.U32(kNormalRate);
    out.End();
    out.End();
}

std::string_view TypeOf(std::string_view box)
{
    return box.substr(4, 4);
}

// A container written again: each child as `rewrite` writes it, or as it was when
// it says it did not.
using ChildRewrite = std::function<bool(BoxWriter& out, std::string_view child)>;

bool WriteContainer(BoxWriter& out, std::string_view box, const ChildRewrite& rewrite)
{
    std::vector<Mp4Box> children;
    if (!ChildBoxes(box, children)) return false;
    out.Begin(TypeOf(box));
    for (const Mp4Box& child : children)
        if (!rewrite(out, BoxBytes(box, child))) out.Append(BoxBytes(box, child));
    out.End();
    return true;
}

std::string_view FindChild(std::string_view box, std::string_view type)
{
    std::vector<Mp4Box> children;
    const Mp4Box* found = ChildBoxes(box, children) ? FindBox(children, type) : nullptr;
    return found ? BoxBytes(box, *found) : std::string_view();
}

class MovieWriter {
public:
    MovieWriter(const FragmentedMp4& movie, std::uint64_t mediaAt, bool wideOffsets)
        : m_movie(movie), m_mediaAt(mediaAt), m_wide(wideOffsets)
    {}

    // The tracks first, for the longest one's duration.
    std::optional<std::string> Write()
    {
        const std::string_view moov = m_movie.moov;
        std::vector<Mp4Box> children;
        auto mvhd = ReadTimedHeader(FindChild(moov, "mvhd"), 4);
        if (!ChildBoxes(moov, children) || !mvhd || mvhd->Timescale() == 0) return std::nullopt;
        std::vector<std::string_view> traks;
        for (const Mp4Box& child : children)
            if (child.type == "trak") traks.push_back(BoxBytes(moov, child));
        const auto timescale = MovieTimescale(traks, mvhd->Timescale());
        if (traks.size() != m_movie.tracks.size() || !timescale) return std::nullopt;
        m_movieTimescale = *timescale;
        for (std::size_t i = 0; i < traks.size(); ++i) {
            auto trak = WriteTrack(traks[i], m_movie.tracks[i]);
            if (!trak) return std::nullopt;
            m_tracks.push_back(std::move(*trak));
        }
        BoxWriter scale;
        scale.U32(m_movieTimescale);
        mvhd->middle = scale.Bytes();
        return WriteMovie(*mvhd);
    }

private:
    // A track that begins later than the movie gets an edit list that says so, in a
    // movie timescale that counts that start exactly in the track's own units. Edit
    // lists already there count in the movie's timescale, which then stays.
    std::optional<std::uint32_t> MovieTimescale(const std::vector<std::string_view>& traks, std::uint32_t given) const
    {
        const bool late = std::ranges::any_of(m_movie.tracks, [](const Mp4Track& track) { return track.start > 0; });
        if (!late) return given;
        std::uint64_t timescale = given;
        for (std::size_t i = 0; i < traks.size() && i < m_movie.tracks.size(); ++i) {
            const auto mdhd = ReadTimedHeader(FindChild(FindChild(traks[i], "mdia"), "mdhd"), 4);
            if (!FindChild(traks[i], "edts").empty() || !mdhd || mdhd->Timescale() == 0) return std::nullopt;
            if (m_movie.tracks[i].start > 0) timescale = std::lcm(timescale, std::uint64_t{mdhd->Timescale()});
        }
        return timescale <= kNarrow ? std::optional(static_cast<std::uint32_t>(timescale)) : std::nullopt;
    }

    std::string WriteMovie(const TimedHeader& mvhd) const
    {
        std::size_t index = 0;
        BoxWriter out;
        WriteContainer(out, m_movie.moov, [&](BoxWriter& into, std::string_view child) {
            const std::string_view type = TypeOf(child);
            if (type == "mvhd") WriteTimedHeader(into, type, mvhd, m_longest);
            if (type == "trak") into.Append(m_tracks[index++]);
            return type == "mvhd" || type == "trak" || type == "mvex";
        });
        return out.Bytes();
    }

    std::optional<std::string> WriteTrack(std::string_view trak, const Mp4Track& track)
    {
        const auto mdhd = ReadTimedHeader(FindChild(FindChild(trak, "mdia"), "mdhd"), 4);
        const auto tkhd = ReadTimedHeader(FindChild(trak, "tkhd"), 8);
        if (!mdhd || !tkhd || mdhd->Timescale() == 0) return std::nullopt;
        const auto inMovie = [&](std::uint64_t time) {
            return gst_util_uint64_scale_round(time, m_movieTimescale, mdhd->Timescale());
        };
        const std::uint64_t start = inMovie(track.start);
        const std::uint64_t media = inMovie(track.Duration());
        m_longest = std::max(m_longest, start + media);
        bool ok = true;
        BoxWriter out;
        const bool written = WriteContainer(out, trak, [&](BoxWriter& into, std::string_view child) {
            const std::string_view type = TypeOf(child);
            if (type == "tkhd") WriteTimedHeader(into, type, *tkhd, start + media);
            if (type == "tkhd" && track.start > 0) WriteLateStart(into, start, media);
            if (type == "mdia") ok = WriteMedia(into, child, *mdhd, track);
            return type == "tkhd" || type == "mdia";
        });
        return written && ok ? std::optional(out.Bytes()) : std::nullopt;
    }

    bool WriteMedia(BoxWriter& out, std::string_view mdia, const TimedHeader& mdhd, const Mp4Track& track) const
    {
        bool ok = true;
        const bool written = WriteContainer(out, mdia, [&](BoxWriter& into, std::string_view child) {
            const std::string_view type = TypeOf(child);
            if (type == "mdhd") WriteTimedHeader(into, type, mdhd, track.Duration());
            if (type == "minf") ok = WriteMediaInformation(into, child, track);
            return type == "mdhd" || type == "minf";
        });
        return written && ok;
    }

    bool WriteMediaInformation(BoxWriter& out, std::string_view minf, const Mp4Track& track) const
    {
        bool ok = false;  // until a stbl with its stsd is found
        const bool written = WriteContainer(out, minf, [&](BoxWriter& into, std::string_view child) {
            if (TypeOf(child) != "stbl") return false;
            const std::string_view stsd = FindChild(child, "stsd");
            ok = !stsd.empty();
            into.Append(SampleTableBox(stsd, track, m_mediaAt, m_wide));
            return true;
        });
        return written && ok;
    }

    const FragmentedMp4& m_movie;
    std::uint64_t m_mediaAt;
    bool m_wide;
    std::uint32_t m_movieTimescale = 0;
    std::uint64_t m_longest = 0;
    std::vector<std::string> m_tracks;
};

}  // namespace

std::optional<std::string> OrdinaryMovieBox(const FragmentedMp4& movie, std::uint64_t mediaAt, bool wideOffsets)
{
    return MovieWriter(movie, mediaAt, wideOffsets).Write();
}

}  // namespace castorn
