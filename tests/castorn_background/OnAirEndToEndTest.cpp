// The real program on air, its background audio switched on and off through its
// own button, and the recording the RTMP server made of it.
#include "ProgramUnderTest.h"

#include "support/Files.h"
#include "support/RecordingAnalysis.h"
#include "support/RtmpServer.h"
#include "support/SoundServer.h"
#include "support/WaitUntil.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

using namespace castorn_test;
using namespace test_support;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

constexpr double kToneRms = 0.1;

TEST(BackgroundAudioOnAir, RecordingCarriesThePlayerOnlyWhileSwitchedOn)
{
    ASSERT_TRUE(ProgramUnderTest::Built()) << ProgramUnderTest::Path();
    SoundServer sound(SoundServer::Microphone::NullSource);
    // The program takes the first microphone it lists, which may be the speakers' monitor.
    sound.Pactl("set-source-mute player_sink.monitor 1");
    TonePlayer player("TonePlayer");
    ASSERT_TRUE(WaitUntil([&] { return sound.SinkOf("TonePlayer") == "player_sink"; }));

    const TempDir dir;
    VirtualDisplay display;
    RtmpServer rtmp;
    WriteFile(dir / "set.ini", "[svr]\nm_strScheduleSvr=" + rtmp.Address() +
                                   "\nm_strPublishRoomInfo=live\nm_strPublishStageInfo=tone\nm_strKey=k\n");
    ProgramUnderTest app(display, dir.Path());
    ASSERT_TRUE(app.Shown());

    app.Keys("space");  // the focus starts on going on air
    ASSERT_TRUE(WaitUntil([&] { return !rtmp.Recordings().empty(); }, 15s));
    const auto onAir = Clock::now();
    std::this_thread::sleep_until(onAir + 4s);
    app.Keys("Tab Tab Tab space");  // from going off air to the start/stop button
    std::this_thread::sleep_until(onAir + 8s);
    app.Keys("space");
    std::this_thread::sleep_until(onAir + 12s);
    app.Keys("shift+Tab shift+Tab shift+Tab space");
    EXPECT_TRUE(WaitUntil([&] { return !sound.HoldsAnythingOfOurs(); }));
    EXPECT_EQ(sound.SinkOf("TonePlayer"), "player_sink");

    EXPECT_NE(app.Close(), -1);
    EXPECT_FALSE(sound.HoldsAnythingOfOurs());
    const std::string recording = rtmp.Recordings().front();
    rtmp.Stop();

    const auto pieces = SoundPieces(recording, kToneRms);
    const auto first = std::find(pieces.begin(), pieces.end(), Sound::Tone);
    const auto last = std::find(pieces.rbegin(), pieces.rend(), Sound::Tone).base();
    ASSERT_TRUE(first != pieces.end()) << "no tone in " << recording;
    const double start = (first - pieces.begin()) * kSoundPiece, end = (last - pieces.begin()) * kSoundPiece;
    const double length = pieces.size() * kSoundPiece;
    std::printf("recording %.2f s; tone from %.2f s to %.2f s\n", length, start, end);
    // Silence, then the tone for the four seconds it was on, then silence again.
    EXPECT_GT(length, 11);
    EXPECT_NEAR(start, 4, 1.5);
    EXPECT_NEAR(end - start, 4, 0.75);
    EXPECT_GT(length - end, 2.5);
    EXPECT_EQ(std::count(first, last, Sound::Silent), 0) << "the tone broke off";
    const auto silentBefore = std::count(pieces.begin(), first, Sound::Silent);
    const auto silentAfter = std::count(last, pieces.end(), Sound::Silent);
    EXPECT_GE(silentBefore, (first - pieces.begin()) - 2) << "sound before the tone";
    EXPECT_GE(silentAfter, (pieces.end() - last) - 2) << "sound after the tone";
}

}  // namespace
