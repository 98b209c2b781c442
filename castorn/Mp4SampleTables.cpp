#include "castorn/Mp4SampleTables.h"

#include "castorn/Mp4Box.h"

#include <algorithm>
#include <utility>
#include <vector>

namespace castorn {

namespace {

using Counted = std::vector<std::pair<std::uint32_t, std::uint32_t>>;  // how many in a row, of what

template <typename Field>
Counted RunLengths(const std::vector<Mp4Sample>& samples, Field field)
{
    Counted runs;
    for (const Mp4Sample& sample : samples) {
        const std::uint32_t value = field(sample);
        if (!runs.empty() && runs.back().second == value)
            ++runs.back().first;
        else
            runs.emplace_back(1, value);
    }
    return runs;
}

void WriteCounted(BoxWriter& out, std::string_view type, std::uint8_t version, const Counted& runs)
{
    out.BeginFull(type, version, 0);
    out.U32(static_cast<std::uint32_t>(runs.size()));
    for (const auto& [count, value] : runs) {
        out.U32(count);
        out.U32(value);
    }
    out.End();
}

// Absent when every sample is a sync sample, as a reader then takes them all to be.
void WriteSyncSamples(BoxWriter& out, const std::vector<Mp4Sample>& samples)
{
    if (std::ranges::all_of(samples, &Mp4Sample::Sync)) return;
    std::vector<std::uint32_t> numbers;
    for (std::size_t i = 0; i < samples.size(); ++i)
        if (samples[i].Sync()) numbers.push_back(static_cast<std::uint32_t>(i + 1));
    out.BeginFull("stss", 0, 0);
    out.U32(static_cast<std::uint32_t>(numbers.size()));
    for (std::uint32_t number : numbers) out.U32(number);
    out.End();
}

void WriteSampleToChunk(BoxWriter& out, const std::vector<Mp4Run>& runs)
{
    std::vector<std::uint32_t> firsts;  // the chunks where the count or the description changes
    for (std::size_t i = 0; i < runs.size(); ++i)
        if (i == 0 || runs[i].count != runs[i - 1].count || runs[i].descriptionIndex != runs[i - 1].descriptionIndex)
            firsts.push_back(static_cast<std::uint32_t>(i));
    out.BeginFull("stsc", 0, 0);
    out.U32(static_cast<std::uint32_t>(firsts.size()));
    for (std::uint32_t first : firsts) {
        out.U32(first + 1);
        out.U32(runs[first].count);
        out.U32(runs[first].descriptionIndex);
    }
    out.End();
}

void WriteSampleSizes(BoxWriter& out, const std::vector<Mp4Sample>& samples)
{
    const bool same = !samples.empty() && std::ranges::all_of(samples, [&](const Mp4Sample& sample) {
        return sample.size == samples.front().size;
    });
    out.BeginFull("stsz", 0, 0);
    out.U32(same ? samples.front().size : 0);
    out.U32(static_cast<std::uint32_t>(samples.size()));
    if (!same)
        for (const Mp4Sample& sample : samples) out.U32(sample.size);
    out.End();
}

void WriteChunkOffsets(BoxWriter& out, const std::vector<Mp4Run>& runs, std::uint64_t mediaAt, bool wide)
{
    out.BeginFull(wide ? "co64" : "stco", 0, 0);
    out.U32(static_cast<std::uint32_t>(runs.size()));
    for (const Mp4Run& run : runs) out.Put(mediaAt + run.offset, wide ? 8 : 4);
    out.End();
}

}  // namespace

std::string SampleTableBox(std::string_view stsd, const Mp4Track& track, std::uint64_t mediaAt, bool wideOffsets)
{
    const auto& samples = track.samples;
    BoxWriter out;
    out.Begin("stbl");
    out.Append(stsd);
    WriteCounted(out, "stts", 0, RunLengths(samples, [](const Mp4Sample& sample) { return sample.duration; }));
    const Counted offsets = RunLengths(samples, [](const Mp4Sample& sample) { return sample.compositionOffset; });
    if (offsets.size() > 1 || (offsets.size() == 1 && offsets.front().second != 0))
        WriteCounted(out, "ctts", track.signedOffsets ? 1 : 0, offsets);
    WriteSyncSamples(out, samples);
    WriteSampleToChunk(out, track.runs);
    WriteSampleSizes(out, samples);
    WriteChunkOffsets(out, track.runs, mediaAt, wideOffsets);
    out.End();
    return out.Bytes();
}

}  // namespace castorn
