// A finished recording in fragments, as the recording's own muxer writes them, made an
// ordinary MP4 of the very same packets; a broken one left as it is.
#include "castorn/GstRef.h"
#include "castorn/GstRuntime.h"
#include "castorn/Mp4Defragmenter.h"
#include "castorn/Mp4Fragments.h"
#include "castorn/Mp4MovieBox.h"
#include "castorn/RecordingFile.h"

#include "support/Command.h"
#include "support/Files.h"
#include "support/RecordingAnalysis.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>

using namespace test_support;
namespace fs = std::filesystem;

namespace {

constexpr int kFps = 25;
constexpr int kAacFrame = 1024;
constexpr int kRate = 44100;

// `seconds` of H.264 with B-frames and AAC, through mp4mux in the recording's fragments.
void RecordFragmented(const std::string& path, int seconds)
{
    std::string why;
    ASSERT_TRUE(castorn::InitGstreamer(why)) << why;
    const std::string line =
        "videotestsrc num-buffers=" + std::to_string(seconds * kFps) +
        " ! video/x-raw,width=320,height=240,framerate=" + std::to_string(kFps) +
        "/1 ! x264enc speed-preset=veryfast bframes=2 key-int-max=30 ! h264parse ! mp4mux name=mux "
        "fragment-duration=" +
        std::to_string(castorn::RecordingFile::kFragmentMs) +
        " ! filesink name=sink audiotestsrc num-buffers=" + std::to_string(seconds * kRate / kAacFrame) +
        " ! audio/x-raw,rate=44100,channels=2 ! voaacenc ! aacparse ! mux.";
    GError* error = nullptr;
    const castorn::ElementRef pipeline(gst_parse_launch(line.c_str(), &error));
    ASSERT_TRUE(pipeline && !error) << (error ? error->message : "");
    const castorn::ElementRef sink(gst_bin_get_by_name(GST_BIN(pipeline.get()), "sink"));
    g_object_set(sink.get(), "location", path.c_str(), nullptr);
    gst_element_set_state(pipeline.get(), GST_STATE_PLAYING);
    const castorn::BusRef bus(gst_element_get_bus(pipeline.get()));
    const std::unique_ptr<GstMessage, castorn::GstMessageUnref> end(gst_bus_timed_pop_filtered(
        bus.get(), 120 * GST_SECOND, static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR)));
    gst_element_set_state(pipeline.get(), GST_STATE_NULL);
    ASSERT_TRUE(end && GST_MESSAGE_TYPE(end.get()) == GST_MESSAGE_EOS);
}

// What ffprobe says of `entries` ("stream=duration"), one line each.
std::string Probed(const std::string& file, const std::string& entries)
{
    return CommandOutput("ffprobe -v error -show_entries " + entries + " -of csv=p=0 '" + file + "'");
}

std::uint64_t Number(const std::string& bytes, std::size_t at, int count)
{
    std::uint64_t value = 0;
    for (int i = 0; i < count; ++i) value = value << 8 | static_cast<unsigned char>(bytes[at + i]);
    return value;
}

void PutNumber(std::string& bytes, std::size_t at, int count, std::uint64_t value)
{
    for (int i = count - 1; i >= 0; --i, value >>= 8) bytes[at + i] = static_cast<char>(value & 0xff);
}

// The boxes in bytes [from, to), as where each begins and its type.
std::vector<std::pair<std::size_t, std::string>> Boxes(const std::string& bytes, std::size_t from, std::size_t to)
{
    std::vector<std::pair<std::size_t, std::string>> boxes;
    for (std::size_t at = from; at + 8 <= to; at += Number(bytes, at, 4)) {
        boxes.emplace_back(at, bytes.substr(at + 4, 4));
        if (Number(bytes, at, 4) < 8) break;
    }
    return boxes;
}

// Every fragment of track `track` begins `delay` later: the track starts that much
// after the others, as a recording's sound may.
void DelayTrack(const std::string& path, std::uint32_t track, std::uint64_t delay)
{
    std::string bytes = ReadFile(path);
    const auto end = [&](std::size_t at) { return at + Number(bytes, at, 4); };
    for (const auto& [moof, type] : Boxes(bytes, 0, bytes.size())) {
        if (type != "moof") continue;
        for (const auto& [traf, inMoof] : Boxes(bytes, moof + 8, end(moof))) {
            const auto children = Boxes(bytes, traf + 8, end(traf));
            if (inMoof != "traf" || children.empty() || Number(bytes, children[0].first + 12, 4) != track) continue;
            for (const auto& [tfdt, inTraf] : children) {
                const int size = bytes[tfdt + 8] == 1 ? 8 : 4;
                if (inTraf == "tfdt") PutNumber(bytes, tfdt + 12, size, Number(bytes, tfdt + 12, size) + delay);
            }
        }
    }
    ASSERT_TRUE(WriteFile(path, bytes));
}

// The files a folder holds, and each one's bytes.
std::map<std::string, std::string> Contents(const std::string& folder)
{
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::directory_iterator(folder)) files[entry.path().filename()] = ReadFile(entry.path());
    return files;
}

class Mp4Defragmenter : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        if (!Installed("ffmpeg") || !Installed("ffprobe")) return;
        s_folder = std::make_unique<TempDir>();
        s_recorded = *s_folder / "publish_tavisk 2026-12-08 20-15-30.mp4";
        RecordFragmented(s_recorded, 10);
    }
    static void TearDownTestSuite() { s_folder.reset(); }

    void SetUp() override
    {
        if (!s_folder) GTEST_SKIP() << "ffmpeg and ffprobe are needed";
        m_path = m_dir / fs::path(s_recorded).filename();
        fs::copy_file(s_recorded, m_path);
    }

    // The file cut to `size` bytes, or with `bytes` written over it from `at`.
    void Cut(std::uintmax_t size) { fs::resize_file(m_path, size); }
    void Overwrite(std::uint64_t at, const std::string& bytes)
    {
        std::fstream file(m_path, std::ios::in | std::ios::out | std::ios::binary);
        file.seekp(static_cast<std::streamoff>(at)).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
    // Not made ordinary, told why, and the folder just as it was.
    void ExpectLeftAsItIs(const std::string& expectedWhy)
    {
        const auto before = Contents(m_dir.Path());
        std::string why;
        EXPECT_FALSE(castorn::DefragmentMp4(m_path, why));
        EXPECT_NE(why.find(expectedWhy), std::string::npos) << why;
        EXPECT_EQ(Contents(m_dir.Path()), before) << "untouched, and nothing left beside it";
    }

    static std::unique_ptr<TempDir> s_folder;
    static std::string s_recorded;
    TempDir m_dir;
    std::string m_path;
};

std::unique_ptr<TempDir> Mp4Defragmenter::s_folder;
std::string Mp4Defragmenter::s_recorded;

}  // namespace

// Both tracks, every packet with its times, size, digest and key flag, and the tracks'
// durations as ffprobe reads them, are the same in the ordinary file as in the fragments.
void ExpectMadeOrdinary(const std::string& path)
{
    const std::vector<std::string> fragmented = TopLevelBoxes(path);
    ASSERT_GT(std::count(fragmented.begin(), fragmented.end(), "moof"), 20) << "the recording's own fragments";
    const std::string packets = PacketListing(path);
    const std::string durations = Probed(path, "stream=duration");
    const auto mode = fs::status(path).permissions();

    std::string why;
    ASSERT_TRUE(castorn::DefragmentMp4(path, why)) << why;
    ExpectOrdinaryMp4(path);
    EXPECT_EQ(TopLevelBoxes(path), (std::vector<std::string>{"ftyp", "moov", "mdat"}));
    EXPECT_EQ(PacketListing(path), packets);
    EXPECT_NE(packets.find(",K_"), std::string::npos);
    EXPECT_EQ(Probed(path, "stream=duration"), durations);
    EXPECT_EQ(fs::status(path).permissions(), mode);
    const fs::path folder = fs::path(path).parent_path();
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 1) << "nothing left beside it";
}

TEST_F(Mp4Defragmenter, AFinishedRecordingBecomesAnOrdinaryMp4OfTheVeryPacketsItHeld)
{
    const std::string durations = Probed(m_path, "stream=duration");
    ExpectMadeOrdinary(m_path);
    // The longest track's: the fragments' reading adds the first picture's delay for
    // B-frames, which an ordinary file without an edit list leaves out.
    EXPECT_EQ(Probed(m_path, "format=duration"), durations.substr(0, durations.find('\n') + 1)) << durations;
}

TEST_F(Mp4Defragmenter, ASoundTrackThatBeginsLaterKeepsItsStart)
{
    constexpr std::uint32_t kSoundTrack = 2;
    DelayTrack(m_path, kSoundTrack, kRate / 20);
    const std::string packets = PacketListing(m_path);
    const std::string starts = Probed(m_path, "stream=start_time");
    ASSERT_NE(starts.find("0.050000"), std::string::npos) << starts;

    std::string why;
    ASSERT_TRUE(castorn::DefragmentMp4(m_path, why)) << why;
    ExpectOrdinaryMp4(m_path);
    EXPECT_EQ(PacketListing(m_path), packets);
    EXPECT_EQ(Probed(m_path, "stream=start_time"), starts);
}

TEST_F(Mp4Defragmenter, ChunksBeyondFourGibibytesGet64BitOffsets)
{
    castorn::FragmentedMp4 movie;
    std::string why;
    const int fd = open(m_path.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_TRUE(castorn::ReadFragmentedMp4(fd, movie, why)) << why;
    close(fd);
    constexpr std::uint64_t kFar = std::uint64_t{5} << 30;
    const auto moov = castorn::OrdinaryMovieBox(movie, kFar, true);
    ASSERT_TRUE(moov);
    EXPECT_EQ(moov->find("stco"), std::string::npos);
    std::size_t co64 = 0;
    for (const castorn::Mp4Track& track : movie.tracks) {
        co64 = moov->find("co64", co64 + 1);
        ASSERT_NE(co64, std::string::npos);
        ASSERT_EQ(Number(*moov, co64 + 8, 4), track.runs.size());
        for (std::size_t i = 0; i < track.runs.size(); ++i)
            EXPECT_EQ(Number(*moov, co64 + 12 + 8 * i, 8), kFar + track.runs[i].offset);
    }
}

TEST_F(Mp4Defragmenter, AnOrdinaryMp4IsLeftAsItIs)
{
    std::string why;
    ASSERT_TRUE(castorn::DefragmentMp4(m_path, why)) << why;
    ExpectLeftAsItIs("not a fragmented MP4");
}

TEST_F(Mp4Defragmenter, AFileCutInsideABoxIsLeftAsItIs)
{
    Cut(fs::file_size(m_path) * 2 / 3);
    ExpectLeftAsItIs("the file ends inside a box");
}

TEST_F(Mp4Defragmenter, AFragmentWhoseDataIsGoneIsLeftAsItIs)
{
    // Whole boxes, up to a moof whose mdat never came.
    const std::string bytes = ReadFile(m_path);
    Cut(bytes.rfind("mdat") - 4);
    ASSERT_EQ(TopLevelBoxes(m_path).back(), "moof");
    ExpectLeftAsItIs("not within one mdat");
}

TEST_F(Mp4Defragmenter, AnUnreadableFragmentIsLeftAsItIs)
{
    // The first moof's traf claims more than it holds.
    const std::string bytes = ReadFile(m_path);
    const auto traf = bytes.find("traf", bytes.find("moof"));
    ASSERT_NE(traf, std::string::npos);
    Overwrite(traf - 4, std::string("\x7f\xff\xff\xff", 4));
    ExpectLeftAsItIs("a broken");
}
