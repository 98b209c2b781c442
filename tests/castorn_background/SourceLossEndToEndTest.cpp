// The real program on air while its sound server goes away: the publication goes on
// with silence in one recording, and the microphone is heard again when the server
// returns.
#include "ProgramUnderTest.h"

#include "support/Files.h"
#include "support/RecordingAnalysis.h"
#include "support/RtmpServer.h"
#include "support/SoundServer.h"
#include "support/WaitUntil.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <optional>
#include <thread>

using namespace castorn_test;
using namespace test_support;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using Seconds = std::chrono::duration<double>;

namespace {

constexpr int kFps = 10;

// When, counted from the first media at the server, the sound server goes and comes back.
struct Outage {
    bool beforeOnAir = false;           // gone before going on air, the lists filled while it was there
    double stopAt = 3;                  // seconds on air, when not before
    std::optional<double> startAt = 8;  // none: it never returns
    double offAirAt = 16;
};

// The program, its peers and the recording of one run. Its microphone is the
// speakers' monitor, where the player's tone plays: the only source when it starts.
class ProgramRun {
public:
    explicit ProgramRun(const Outage& outage)
    {
        m_sound.Pactl("unload-module module-null-source");
        m_tone = std::make_unique<TonePlayer>("Tone");
        WriteFile(m_folder / "set.ini", "[svr]\nm_strScheduleSvr=" + m_rtmp.Address() +
                                            "\nm_strPublishRoomInfo=live\nm_strPublishStageInfo=loss\nm_strKey=k\n"
                                            "[video]\nm_iVdBitRate=160\nm_iVdWidth=320\nm_iVdHeight=240\nm_iVdFps=" +
                                            std::to_string(kFps) + "\n");
        m_app = std::make_unique<ProgramUnderTest>(m_display, m_folder.Path());
        if (m_app->Shown()) Play(outage);
    }

    // How the program ended after going off air and closing its window.
    int Close() { return m_app->Close(); }
    std::vector<std::string> Recordings() const { return m_rtmp.Recordings(); }

    double returnedAt = -1;  // seconds on air when the sound server was back, or -1
    double stoppedAt = -1;
    double offAirAt = -1;

private:
    void Play(const Outage& outage)
    {
        if (outage.beforeOnAir) StopSound();
        m_app->Keys("space");
        if (!WaitUntil([&] { return !m_rtmp.Recordings().empty(); }, 15s)) return;
        const auto start = Clock::now();
        const auto at = [start](double seconds) {
            std::this_thread::sleep_until(start + std::chrono::duration_cast<Clock::duration>(Seconds(seconds)));
        };
        if (!outage.beforeOnAir) {
            at(outage.stopAt);
            StopSound();
            stoppedAt = outage.stopAt;
        }
        if (outage.startAt) {
            at(*outage.startAt);
            m_sound.Start();
            m_tone = std::make_unique<TonePlayer>("Tone");
            returnedAt = *outage.startAt;
        }
        at(outage.offAirAt);
        m_app->Keys("space");
        offAirAt = outage.offAirAt;
        std::this_thread::sleep_for(2s);
    }

    void StopSound()
    {
        m_tone.reset();
        m_sound.Stop();
    }

    SoundServer m_sound{SoundServer::Microphone::NullSource};
    TempDir m_folder;
    VirtualDisplay m_display;
    RtmpServer m_rtmp;
    std::unique_ptr<TonePlayer> m_tone;
    std::unique_ptr<ProgramUnderTest> m_app;
};

// One recording with both tracks to the end and no hole in either; its sound as runs.
std::vector<SoundRun> CheckRecording(ProgramRun& run)
{
    EXPECT_EQ(run.Close(), 0) << "the program ends cleanly";
    const auto files = run.Recordings();
    EXPECT_EQ(files.size(), 1u) << "one publication from start to end";
    if (files.empty()) return {};
    EXPECT_NEAR(ExpectContinuousTracks(files.front(), kFps).last, run.offAirAt, 1.5) << "the picture to the end";
    const auto runs = Runs(SoundPieces(files.front()));
    std::printf("recording: %s\n", Describe(runs).c_str());
    return runs;
}

bool Prerequisites()
{
    return ProgramUnderTest::Built() && SoundServer::Installed(SoundServer::Kind::PulseAudio);
}

TEST(SourceLossOnAir, TheSoundServerAwayForFiveSecondsLeavesSilenceAndTheToneReturns)
{
    if (!Prerequisites()) GTEST_SKIP() << "needs the program built and pulseaudio";
    ProgramRun run(Outage{});
    const auto runs = CheckRecording(run);
    ASSERT_GE(runs.size(), 3u) << Describe(runs);
    const auto last = runs.end() - 3;
    EXPECT_EQ(last[0].sound, Sound::Tone) << Describe(runs);
    EXPECT_EQ(last[1].sound, Sound::Silent) << Describe(runs);
    const double away = run.returnedAt - run.stoppedAt;
    EXPECT_GE(last[1].seconds, away - 1) << "silence while the server was away";
    EXPECT_LE(last[1].seconds, away + 5) << "the tone again within five seconds of its return";
    EXPECT_EQ(last[2].sound, Sound::Tone) << Describe(runs);
}

TEST(SourceLossOnAir, ASoundServerThatNeverReturnsLeavesSilenceToTheEnd)
{
    if (!Prerequisites()) GTEST_SKIP() << "needs the program built and pulseaudio";
    ProgramRun run(Outage{.startAt = std::nullopt, .offAirAt = 9});
    const auto runs = CheckRecording(run);
    ASSERT_GE(runs.size(), 2u) << Describe(runs);
    EXPECT_EQ(runs.end()[-2].sound, Sound::Tone) << Describe(runs);
    EXPECT_EQ(runs.back().sound, Sound::Silent) << Describe(runs);
    EXPECT_NEAR(runs.back().seconds, run.offAirAt - run.stoppedAt, 1.5);
}

TEST(SourceLossOnAir, AMicrophoneGoneBeforeGoingOnAirStartsAsSilenceAndIsHeardWhenItComes)
{
    if (!Prerequisites()) GTEST_SKIP() << "needs the program built and pulseaudio";
    ProgramRun run(Outage{.beforeOnAir = true, .startAt = 3, .offAirAt = 11});
    const auto runs = CheckRecording(run);
    ASSERT_GE(runs.size(), 2u) << Describe(runs);
    EXPECT_EQ(runs.front().sound, Sound::Silent) << Describe(runs);
    EXPECT_GE(runs.front().seconds, run.returnedAt - 0.5);
    EXPECT_LE(runs.front().seconds, run.returnedAt + 5) << "the tone within five seconds of the return";
    EXPECT_EQ(runs.back().sound, Sound::Tone) << Describe(runs);
}

}  // namespace
