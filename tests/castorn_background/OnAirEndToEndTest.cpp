// The real program on air, its background audio switched on and off through its
// own button, and the recording the RTMP server made of it.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "EndToEndRig.h"
#include "PulseTestServer.h"
#include "ToneMeter.h"

using namespace castorn_test;
using Clock = std::chrono::steady_clock;

namespace {

constexpr double kWindow = 0.25;  // seconds per measured piece of the recording

enum class Piece { Silent, Tone, Other };

std::vector<Piece> Pieces(const std::vector<std::int16_t>& samples)
{
    const std::size_t size = std::size_t(kWindow * kMeterRate);
    std::vector<Piece> pieces;
    for (std::size_t at = 0; at + size <= samples.size(); at += size) {
        const Level level = Measure(std::span(samples).subspan(at, size));
        const bool tone = level.rms > 0.1 && std::abs(level.frequency - 1000) < 50;
        pieces.push_back(tone ? Piece::Tone : level.rms < 0.003 ? Piece::Silent : Piece::Other);
    }
    return pieces;
}

void WriteSettings(const std::string& dir, int port)
{
    std::ofstream(dir + "/set.ini") << "[svr]\nm_strScheduleSvr=rtmp://127.0.0.1:" << port
                                    << "\nm_strPublishRoomInfo=live\nm_strPublishStageInfo=tone\nm_strKey=k\n";
}

void At(Clock::time_point when)
{
    std::this_thread::sleep_until(when);
}

TEST(BackgroundAudioOnAir, RecordingCarriesThePlayerOnlyWhileSwitchedOn)
{
    const std::string program = std::string(TAVISK_BUILD) + "/publish_tavisk";
    ASSERT_TRUE(std::filesystem::exists(program)) << program;
    PulseTestServer sound;
    // The program takes the first microphone it lists, which may be the speakers' monitor.
    sound.Pactl("set-source-mute player_sink.monitor 1");
    TonePlayer player("TonePlayer");
    ASSERT_TRUE(Eventually([&] { return sound.SinkOf("TonePlayer") == "player_sink"; }));

    const ScratchDir temp("onair-test");
    const std::string& dir = temp.path;
    XServer x;
    RtmpRecorder rtmp(dir + "/rtmp");
    WriteSettings(dir, rtmp.Port());
    ChildProcess app({program}, {"DISPLAY=" + x.Display(), "QT_QPA_PLATFORM=xcb"}, dir);
    const std::string window = x.Xdotool("search --sync --onlyvisible --name '^publish_tavisk$'");
    ASSERT_FALSE(window.empty());
    x.Xdotool("windowfocus --sync " + window.substr(0, window.find('\n')));

    x.Xdotool("key space");  // the focus starts on going on air
    ASSERT_TRUE(Eventually([&] { return !rtmp.Recording().empty(); }, 15));
    const auto onAir = Clock::now();
    At(onAir + std::chrono::seconds(4));
    x.Xdotool("key Tab Tab Tab space");  // from going off air to the start/stop button
    At(onAir + std::chrono::seconds(8));
    x.Xdotool("key space");
    At(onAir + std::chrono::seconds(12));
    x.Xdotool("key shift+Tab shift+Tab shift+Tab space");
    EXPECT_TRUE(Eventually([&] { return !sound.HoldsAnythingOfOurs(); }));
    EXPECT_EQ(sound.SinkOf("TonePlayer"), "player_sink");

    x.Xdotool("key Escape");
    EXPECT_TRUE(app.AwaitExit(15));
    EXPECT_FALSE(sound.HoldsAnythingOfOurs());
    const std::string recording = rtmp.Recording();
    rtmp.Stop();

    const auto pieces = Pieces(DecodeAudio(recording));
    const auto first = std::find(pieces.begin(), pieces.end(), Piece::Tone);
    const auto last = std::find(pieces.rbegin(), pieces.rend(), Piece::Tone).base();
    ASSERT_TRUE(first != pieces.end()) << "no tone in " << recording;
    const double start = (first - pieces.begin()) * kWindow, end = (last - pieces.begin()) * kWindow;
    const double length = pieces.size() * kWindow;
    std::printf("recording %.2f s; tone from %.2f s to %.2f s\n", length, start, end);
    // Silence, then the tone for the four seconds it was on, then silence again.
    EXPECT_GT(length, 11);
    EXPECT_NEAR(start, 4, 1.5);
    EXPECT_NEAR(end - start, 4, 0.75);
    EXPECT_GT(length - end, 2.5);
    EXPECT_EQ(std::count(first, last, Piece::Silent), 0) << "the tone broke off";
    const auto silentBefore = std::count(pieces.begin(), first, Piece::Silent);
    const auto silentAfter = std::count(last, pieces.end(), Piece::Silent);
    EXPECT_GE(silentBefore, (first - pieces.begin()) - 2) << "sound before the tone";
    EXPECT_GE(silentAfter, (pieces.end() - last) - 2) << "sound after the tone";
}

}  // namespace
