#include "support/TagArrivals.h"

#include "support/RecordingAnalysis.h"

#include <algorithm>
#include <filesystem>
#include <map>
#include <fstream>

namespace test_support {

namespace {

constexpr std::chrono::milliseconds kReadEvery{5};
constexpr std::size_t kTagHeader = 11;
constexpr std::size_t kTagTrailer = 4;
constexpr std::uint8_t kAudioTag = 8;
constexpr std::uint8_t kVideoTag = 9;

std::uint32_t Big24(const unsigned char* data)
{
    return std::uint32_t{data[0]} << 16 | std::uint32_t{data[1]} << 8 | data[2];
}

double Seconds(std::chrono::steady_clock::duration span)
{
    return std::chrono::duration<double>(span).count();
}

}  // namespace

std::vector<double> Delays(const std::vector<TagArrival>& tags)
{
    std::map<int, double> quickest;
    std::vector<double> lateness;
    for (const TagArrival& tag : tags) {
        lateness.push_back(Seconds(tag.at.time_since_epoch()) - tag.timeMs / 1000.0);
        auto [at, added] = quickest.try_emplace(tag.recording, lateness.back());
        if (!added) at->second = std::min(at->second, lateness.back());
    }
    for (std::size_t i = 0; i < tags.size(); ++i) lateness[i] -= quickest[tags[i].recording];
    return lateness;
}

ArrivalFigures FiguresBetween(const std::vector<TagArrival>& tags, ArrivalTime from, ArrivalTime to)
{
    const std::vector<double> delays = Delays(tags);
    ArrivalFigures figures;
    std::uint64_t bytes = 0;
    int frames = 0;
    for (std::size_t i = 0; i < tags.size(); ++i) {
        if (tags[i].at < from || tags[i].at >= to) continue;
        bytes += tags[i].bytes;
        if (!tags[i].audio) ++frames;
        figures.maxDelay = std::max(figures.maxDelay, delays[i]);
        figures.lastDelay = delays[i];
    }
    const double span = Seconds(to - from);
    if (span <= 0) return figures;
    figures.videoFps = frames / span;
    figures.kbps = static_cast<double>(bytes) * 8 / 1000 / span;
    return figures;
}

double SoundKept(const std::vector<TagArrival>& tags, double& longestStepMs)
{
    // An AAC frame of 1024 samples lasts 23 ms at 44.1 kHz: a step of two is a frame missing.
    constexpr double kFrameMs = 1024.0 * 1000 / 44100;
    std::map<int, std::vector<std::uint32_t>> times;
    for (const TagArrival& tag : tags)
        if (tag.audio) times[tag.recording].push_back(tag.timeMs);
    double heard = 0;
    double missing = 0;
    longestStepMs = 0;
    for (auto& [recording, recordingTimes] : times) {
        std::sort(recordingTimes.begin(), recordingTimes.end());
        for (std::size_t i = 1; i < recordingTimes.size(); ++i) {
            const double step = recordingTimes[i] - recordingTimes[i - 1];
            longestStepMs = std::max(longestStepMs, step);
            heard += std::min(step, kFrameMs);
            if (step > 1.5 * kFrameMs) missing += step - kFrameMs;
        }
    }
    return heard + missing > 0 ? heard / (heard + missing) : 0;
}

TagArrivals::TagArrivals(std::string recordingsDir) : m_dir(std::move(recordingsDir)), m_thread([this] { Watch(); }) {}

TagArrivals::~TagArrivals()
{
    m_stop = true;
    m_thread.join();
}

std::vector<TagArrival> TagArrivals::Tags() const
{
    std::lock_guard lock(m_mutex);
    return m_tags;
}

void TagArrivals::Watch()
{
    std::vector<Reader> readers;
    while (!m_stop) {
        for (const std::string& file : FlvFiles(m_dir)) {
            bool known = false;
            for (const Reader& reader : readers) known = known || reader.path == file;
            if (!known) readers.push_back({file});
        }
        for (std::size_t i = 0; i < readers.size(); ++i) ReadNew(readers[i], static_cast<int>(i));
        std::this_thread::sleep_for(kReadEvery);
    }
}

// Whole tags past the last one read; a tag still being written waits for the next round.
void TagArrivals::ReadNew(Reader& reader, int recording)
{
    std::error_code error;
    const std::uint64_t length = std::filesystem::file_size(reader.path, error);
    if (error) return;
    std::ifstream in(reader.path, std::ios::binary);
    const auto now = std::chrono::steady_clock::now();
    unsigned char head[kTagHeader + 1];
    while (reader.offset + sizeof head <= length) {
        in.seekg(static_cast<std::streamoff>(reader.offset));
        if (!in.read(reinterpret_cast<char*>(head), sizeof head)) return;
        const std::uint32_t size = Big24(head + 1);
        const std::uint64_t next = reader.offset + kTagHeader + size + kTagTrailer;
        if (next > length) return;
        if (head[0] == kAudioTag || head[0] == kVideoTag) {
            TagArrival tag;
            tag.at = now;
            tag.recording = recording;
            tag.audio = head[0] == kAudioTag;
            tag.key = head[0] == kVideoTag && (head[kTagHeader] >> 4) == 1;
            tag.timeMs = Big24(head + 4) | std::uint32_t{head[7]} << 24;
            tag.bytes = size;
            std::lock_guard lock(m_mutex);
            m_tags.push_back(tag);
        }
        reader.offset = next;
    }
}

}  // namespace test_support
