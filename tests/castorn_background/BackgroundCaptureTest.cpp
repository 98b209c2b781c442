// The background audio against a real sound server and a real player program.
#include <gtest/gtest.h>
#include <json/json.h>
#include <unistd.h>

#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

#include "castorn/background/BackgroundAudio.h"
#include "castorn/background/PulseSession.h"
#include "support/SoundServer.h"
#include "support/ToneMeter.h"
#include "support/WaitUntil.h"

using castorn::BackgroundAudio;
using test_support::MeasureSource;
using test_support::SoundServer;
using test_support::TonePlayer;
using test_support::WaitUntil;
using Kind = SoundServer::Kind;

namespace {

constexpr double kToneRms = 0.2;  // audiotestsrc plays at 0.8 of full scale: RMS near 0.57
constexpr double kSilenceRms = 0.01;

bool CarriesTone(const std::string& source)
{
    const auto level = MeasureSource(source);
    return level.rms > kToneRms && std::abs(level.frequency - test_support::kToneHz) < 50;
}

bool IsSilent(const std::string& source)
{
    return MeasureSource(source).rms < kSilenceRms;
}

// The states the capture tells, each as "state:player".
class StateLog {
public:
    BackgroundAudio::Notify Receiver()
    {
        return [this](const std::string& json) {
            Json::Value root;
            ASSERT_TRUE(Json::Reader().parse(json, root)) << json;
            ASSERT_EQ(root["cmd"].asString(), "OnBackgroundAudio");
            std::lock_guard lock(m_mutex);
            m_history += root["params"]["state"].asString() + ":" + root["params"]["player"].asString() + " ";
        };
    }
    // Whether the last state told is, or soon becomes, `state`.
    bool Reaches(const std::string& state)
    {
        return WaitUntil([&] { return History().ends_with(" " + state + " "); });
    }
    std::string History()
    {
        std::lock_guard lock(m_mutex);
        return m_history;
    }

private:
    std::mutex m_mutex;
    std::string m_history = " ";  // every state told, each followed by a blank
};

class CaptureFixture : public ::testing::Test {
protected:
    explicit CaptureFixture(Kind kind) : m_kind(kind) {}

    void SetUp() override
    {
        if (!SoundServer::Installed(m_kind)) GTEST_SKIP() << "this sound server is not installed";
        m_sound = std::make_unique<SoundServer>(SoundServer::Microphone::NullSource, m_kind);
    }

    // "TonePlayer" chosen and switched on, then on air: the source that carries it.
    static std::string CaptureTonePlayer(BackgroundAudio& audio)
    {
        audio.SelectPlayer("TonePlayer");
        audio.Enable(true);
        return audio.StartCapture();
    }

    bool LeftNothing()
    {
        return WaitUntil([this] { return !m_sound->HoldsAnythingOfOurs(); });
    }

    // PipeWire shows a stream moved back without an output for a moment.
    bool BackOnTheSpeakers()
    {
        return WaitUntil([this] { return m_sound->SinkOf("TonePlayer") == "player_sink"; });
    }

    Kind m_kind;
    std::unique_ptr<SoundServer> m_sound;
    StateLog m_log;
};

// Cases that need PulseAudio itself: its null source, modules loaded by hand.
class BackgroundCapture : public CaptureFixture {
protected:
    BackgroundCapture() : CaptureFixture(Kind::PulseAudio) {}
};

// Cases that hold for both servers a desktop may run.
class BackgroundCaptureOn : public CaptureFixture, public ::testing::WithParamInterface<Kind> {
protected:
    BackgroundCaptureOn() : CaptureFixture(GetParam()) {}
};

INSTANTIATE_TEST_SUITE_P(Servers, BackgroundCaptureOn, ::testing::Values(Kind::PulseAudio, Kind::PipeWire),
                         [](const auto& info) { return info.param == Kind::PipeWire ? "PipeWire" : "PulseAudio"; });

TEST_F(BackgroundCapture, ListsEachPlayingProgramOnceAndNoLoopbacks)
{
    // One after the other, so that the server's order is known. (pactl's JSON
    // cannot show the Chinese name, so streams are counted in its short form.)
    const auto streams = [this](std::size_t n) {
        return WaitUntil([&] { return std::ranges::count(m_sound->Pactl("list sink-inputs short"), '\n') == long(n); });
    };
    TonePlayer first("TonePlayer");
    ASSERT_TRUE(streams(1));
    TonePlayer other("其他播放器");
    ASSERT_TRUE(streams(2));
    TonePlayer second("TonePlayer");
    m_sound->Pactl("load-module module-loopback source=mic sink=player_sink");
    ASSERT_TRUE(streams(4));
    EXPECT_EQ(castorn::ListPlayers(), (std::vector<std::string>{"TonePlayer", "其他播放器"}));
}

TEST_F(BackgroundCapture, WithoutSoundServerNothingIsListedAndTheCaptureComesUnderItsNameWithTheServer)
{
    m_sound->Stop();
    EXPECT_TRUE(castorn::ListPlayers().empty());
    BackgroundAudio audio(m_log.Receiver());
    const std::string source = CaptureTonePlayer(audio);
    EXPECT_FALSE(source.empty()) << "named all the same";
    EXPECT_TRUE(m_log.Reaches("unavailable:TonePlayer"));
    m_sound->Start();
    TonePlayer player("TonePlayer");
    EXPECT_TRUE(m_log.Reaches("capturing:TonePlayer"));
    EXPECT_TRUE(WaitUntil([&] { return CarriesTone(source); })) << "the source named before the server came";
}

TEST_P(BackgroundCaptureOn, ChoiceMadeBeforeAirTakesEffectAtStartAndOffGivesPlayerBack)
{
    TonePlayer player("TonePlayer");
    ASSERT_TRUE(WaitUntil([&] { return m_sound->SinkOf("TonePlayer") == "player_sink"; }));
    BackgroundAudio audio(m_log.Receiver());
    const std::string source = CaptureTonePlayer(audio);
    ASSERT_FALSE(source.empty());
    EXPECT_TRUE(m_log.Reaches("capturing:TonePlayer"));
    EXPECT_TRUE(WaitUntil([&] { return CarriesTone(source); }));
    // The operator still hears the player, through the loopback.
    EXPECT_TRUE(WaitUntil([] { return CarriesTone("player_sink.monitor"); }));

    audio.Enable(false);
    EXPECT_TRUE(m_log.Reaches("off:TonePlayer"));
    EXPECT_TRUE(WaitUntil([&] { return IsSilent(source); }));
    EXPECT_TRUE(BackOnTheSpeakers());
    EXPECT_TRUE(WaitUntil([] { return CarriesTone("player_sink.monitor"); })) << "heard again once moved back";
}

TEST_P(BackgroundCaptureOn, PlayerNamedNothingPlayingIsPickedUpWhenItStarts)
{
    TonePlayer bystander("TonePlayer");
    BackgroundAudio audio(m_log.Receiver());
    audio.SelectPlayer("LatePlayer");
    const std::string source = audio.StartCapture();
    ASSERT_FALSE(source.empty());
    audio.Enable(true);
    EXPECT_TRUE(m_log.Reaches("waiting:LatePlayer"));
    EXPECT_TRUE(IsSilent(source));
    EXPECT_EQ(m_sound->SinkOf("TonePlayer"), "player_sink");

    TonePlayer late("LatePlayer");
    EXPECT_TRUE(m_log.Reaches("capturing:LatePlayer"));
    EXPECT_TRUE(WaitUntil([&] { return CarriesTone(source); }));
    EXPECT_EQ(m_sound->SinkOf("TonePlayer"), "player_sink");
}

TEST_P(BackgroundCaptureOn, PlayerThatExitsIsWaitedForAndTakenAgainWhenBack)
{
    auto player = std::make_unique<TonePlayer>("TonePlayer");
    BackgroundAudio audio(m_log.Receiver());
    const std::string source = CaptureTonePlayer(audio);
    ASSERT_TRUE(m_log.Reaches("capturing:TonePlayer"));

    player->Stop();
    EXPECT_TRUE(m_log.Reaches("waiting:TonePlayer"));
    EXPECT_NE(m_sound->Pactl("list sources short").find(source), std::string::npos);
    EXPECT_TRUE(IsSilent(source));

    player = std::make_unique<TonePlayer>("TonePlayer");
    EXPECT_TRUE(m_log.Reaches("capturing:TonePlayer"));
    EXPECT_TRUE(WaitUntil([&] { return CarriesTone(source); }));
}

TEST_P(BackgroundCaptureOn, StreamMovedAwayByOperatorIsLeftWhereItWent)
{
    m_sound->AddSink("headphones");
    TonePlayer player("TonePlayer");
    BackgroundAudio audio(m_log.Receiver());
    const std::string source = CaptureTonePlayer(audio);
    ASSERT_TRUE(m_log.Reaches("capturing:TonePlayer")) << m_log.History();
    // PipeWire reports a move a while after confirming it; the operator is slower.
    ASSERT_TRUE(WaitUntil([&] { return m_sound->SinkOf("TonePlayer") + ".monitor" == source; }));

    // Through a mixer that stays connected, as the operator's sound settings do: PipeWire's
    // server acknowledges the move of a client that leaves at once (pactl) and now and then
    // drops it with the client's connection, before the stream's new target is set.
    castorn::PulseSession mixer;
    ASSERT_TRUE(mixer.Connect());
    const auto sinks = mixer.Sinks();
    ASSERT_TRUE(sinks);
    const auto headphones =
        std::ranges::find_if(*sinks, [](const castorn::Sink& sink) { return sink.name == "headphones"; });
    ASSERT_NE(headphones, sinks->end());
    ASSERT_TRUE(mixer.MoveSinkInput(std::stoul(m_sound->InputOf("TonePlayer")), headphones->index));
    EXPECT_TRUE(m_log.Reaches("waiting:TonePlayer")) << m_log.History() << m_sound->Pactl("list sink-inputs");
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));  // a full idle round of the engine
    EXPECT_EQ(m_sound->SinkOf("TonePlayer"), "headphones");
}

TEST_P(BackgroundCaptureOn, StopAndDestructionLeaveNothingBehind)
{
    TonePlayer player("TonePlayer");
    auto audio = std::make_unique<BackgroundAudio>(m_log.Receiver());
    ASSERT_FALSE(CaptureTonePlayer(*audio).empty());
    ASSERT_TRUE(m_log.Reaches("capturing:TonePlayer"));
    audio->StopCapture();
    EXPECT_TRUE(LeftNothing());
    EXPECT_TRUE(BackOnTheSpeakers()) << m_sound->Pactl("list sink-inputs");

    // The choice outlives going off air, and the next time on air applies it.
    const std::string source = audio->StartCapture();
    EXPECT_TRUE(m_log.Reaches("capturing:TonePlayer"));
    EXPECT_TRUE(WaitUntil([&] { return CarriesTone(source); }));
    audio.reset();
    EXPECT_TRUE(LeftNothing());
    EXPECT_TRUE(BackOnTheSpeakers()) << m_sound->Pactl("list sink-inputs");
}

// The engine may come back to the server before its outputs do.
TEST_P(BackgroundCaptureOn, SoundServerRestartIsSurvivedAndTheOperatorHearsThePlayerAgain)
{
    auto player = std::make_unique<TonePlayer>("TonePlayer");
    BackgroundAudio audio(m_log.Receiver());
    const std::string source = CaptureTonePlayer(audio);
    ASSERT_TRUE(m_log.Reaches("capturing:TonePlayer"));

    m_sound->Stop();
    player.reset();
    EXPECT_TRUE(m_log.Reaches("unavailable:TonePlayer"));
    m_sound->Start();
    player = std::make_unique<TonePlayer>("TonePlayer");
    EXPECT_TRUE(m_log.Reaches("capturing:TonePlayer"));
    EXPECT_TRUE(WaitUntil([&] { return CarriesTone(source); }));
    EXPECT_TRUE(WaitUntil([] { return CarriesTone("player_sink.monitor"); })) << "the operator hears the player";
    EXPECT_NE(m_sound->SinkOfStream(castorn::kOwnStreamProperty, "loopback") + ".monitor", source)
        << "the loopback plays into the capture sink";
}

// A leftover's owner is told by its connection to the server, not by its process id, which
// a process of another user or container may have: pid 1 is alive, yet owns nothing here.
TEST_F(BackgroundCapture, LeftoversWhoseOwnerIsNotConnectedAreRemovedAndThoseOfALiveEngineKept)
{
    const std::string ownerless = "castorn_bg_1_1";
    m_sound->Pactl("load-module module-null-sink sink_name=" + ownerless);
    m_sound->Pactl("load-module module-loopback source=" + ownerless + ".monitor sink=player_sink");
    BackgroundAudio live(m_log.Receiver());
    const std::string liveSource = live.StartCapture();
    const std::string liveSink = liveSource.substr(0, liveSource.find(".monitor"));
    ASSERT_TRUE(WaitUntil([&] { return m_sound->Pactl("list short sinks").find(liveSink) != std::string::npos; }));

    BackgroundAudio audio(m_log.Receiver());
    const std::string source = audio.StartCapture();
    const std::string sink = source.substr(0, source.find(".monitor"));
    ASSERT_TRUE(WaitUntil([&] { return m_sound->Pactl("list short sinks").find(sink) != std::string::npos; }));
    const std::string modules = m_sound->Pactl("list modules");
    EXPECT_EQ(modules.find(ownerless), std::string::npos) << modules;
    EXPECT_NE(modules.find(liveSink), std::string::npos) << "the other engine's, in use";
}

}  // namespace
