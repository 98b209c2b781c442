// The real program with "同时录制" checked in its set.ini: the copy it leaves beside
// what the RTMP server recorded, when it goes off air and when it is killed.
#include "ProgramUnderTest.h"

#include "support/Files.h"
#include "support/RecordingAnalysis.h"
#include "support/RtmpServer.h"
#include "support/SoundServer.h"
#include "support/WaitUntil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <thread>

using namespace castorn_test;
using namespace test_support;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

std::vector<std::string> Recordings(const std::string& folder)
{
    std::vector<std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        if (entry.path().extension() == ".mp4") files.push_back(entry.path().string());
    return files;
}

class RecordingProgram : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(ProgramUnderTest::Built()) << ProgramUnderTest::Path();
        WriteFile(m_dir / "set.ini", "[svr]\nm_strScheduleSvr=" + m_rtmp.Address() +
                                         "\nm_strPublishRoomInfo=live\nm_strPublishStageInfo=s\n"
                                         "[video]\nm_iVdFps=25\nm_iVdBitRate=500\n"
                                         "[record]\nm_bRecord=True\nm_strRecordDir=" +
                                         m_folder.Path() + "\n");
        m_app = std::make_unique<ProgramUnderTest>(m_display, m_dir.Path());
        ASSERT_TRUE(m_app->Shown());
    }

    // On air through its window; the file it records, once it is there.
    std::string GoOnAir()
    {
        m_app->Keys("space");  // the focus starts on going on air
        std::vector<std::string> files;
        EXPECT_TRUE(WaitUntil([&] { return !(files = Recordings(m_folder.Path())).empty(); }, 15s));
        return files.empty() ? std::string() : files.front();
    }

    SoundServer m_sound{SoundServer::Microphone::NullSource};
    TempDir m_dir;
    TempDir m_folder;
    VirtualDisplay m_display;
    RtmpServer m_rtmp;
    std::unique_ptr<ProgramUnderTest> m_app;
};

}  // namespace

TEST_F(RecordingProgram, TenSecondsOnAirLeaveTheVeryPacketsTheServerGot)
{
    const std::string file = GoOnAir();
    ASSERT_FALSE(file.empty());
    const auto began = Clock::now();
    std::this_thread::sleep_until(began + 10s);
    m_app->Keys("space");  // going on air left the focus on going off air
    EXPECT_NE(m_app->Close(), -1);
    ASSERT_EQ(Recordings(m_folder.Path()).size(), 1u);
    ExpectOrdinaryMp4(file);

    const MediaInfo media = Probe(file);
    EXPECT_EQ(media.videoCodec, "h264");
    EXPECT_EQ(media.width, 320);
    EXPECT_EQ(media.height, 240);
    EXPECT_NEAR(media.fps, 25, 3) << "a loaded machine drops a few pictures of the screen";
    EXPECT_EQ(media.audioCodec, "aac");
    EXPECT_EQ(media.sampleRate, 44100);
    EXPECT_EQ(media.channels, 2);
    EXPECT_NEAR(media.duration, 10, 0.5);

    ASSERT_FALSE(m_rtmp.Recordings().empty());
    ExpectSameVideoPackets(file, m_rtmp.Recordings().front());
}

TEST_F(RecordingProgram, KilledEightSecondsInItLeavesAFileOfBothTracks)
{
    const std::string file = GoOnAir();
    ASSERT_FALSE(file.empty());
    std::this_thread::sleep_until(Clock::now() + 8s);
    m_app->Kill();
    const std::vector<std::string> boxes = TopLevelBoxes(file);
    EXPECT_NE(std::find(boxes.begin(), boxes.end(), "moof"), boxes.end()) << "the fragments as they were written";
    for (const char* track : {"v", "a"}) {
        const Track packets = ReadTrack(file, track);
        std::printf("%s: %.2f s of %s after 8 s\n", file.c_str(), packets.last - packets.first, track);
        EXPECT_GE(packets.last - packets.first, 6) << track << " of " << file;
    }
}
