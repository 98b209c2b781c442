// The engine with peers that hang rather than die (SIGSTOP, as a stalled driver or a
// stopped server), and a program that calls the engine back from its notifications.
// The program's calls return at once whatever a peer does; once the peer goes on,
// nothing of the engine's is left, and a new engine in the same process goes live.
#include "OnAirFixture.h"
#include "ProcessTraces.h"

#include "support/Frozen.h"
#include "support/WaitUntil.h"

#include <atomic>
#include <thread>

using namespace castorn_test;
using namespace std::chrono_literals;

namespace {

// Far above what a call may take (a benchmark measures that), far below what waiting on
// a stopped peer takes: it is only continued after the calls.
constexpr std::chrono::milliseconds kCallBound{3000};

template <class Call>
std::chrono::milliseconds Timed(Call call)
{
    const auto start = std::chrono::steady_clock::now();
    call();
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
}

class HungPeers : public Publishing {
protected:
    void SetUp() override
    {
        Publishing::SetUp();
        // Once on and off air first: GStreamer keeps a few descriptors for good once used.
        ASSERT_NO_FATAL_FAILURE(GoLive(FromScreenAndMicrophone()));
        GoOffAir();
        m_descriptors = OpenDescriptors();
    }

    // StopPublish and Release, each within the bound, while `peer` hangs; then, the
    // peer continued, what the engine left to its threads ends, and a new engine goes live.
    template <class Peer>
    void StopAndRelease(Frozen<Peer>& peer)
    {
        EXPECT_LT(Timed([this] { m_engine->StopPublish(); }), kCallBound);
        EXPECT_LT(Timed([this] { m_engine->Release(); }), kCallBound);
        m_engine = nullptr;
        peer.Thaw();
        EXPECT_TRUE(WaitUntil(NoEngineThread, 20s)) << "the engine's threads end once the peer goes on";
        EXPECT_TRUE(WaitUntil([this] { return OpenDescriptors() <= m_descriptors; }, 10s))
            << OpenDescriptors() - m_descriptors << " descriptors more than before";
        EXPECT_TRUE(WaitUntil([this] { return !m_sound->HoldsAnythingOfOurs(); }, 10s))
            << "sinks or modules of the engine left on the sound server";
        m_engine = CreateCastorn(&m_log);
        ASSERT_NE(m_engine, nullptr);
        ASSERT_NO_FATAL_FAILURE(GoLive());
        GoOffAir(1s);
    }

    // Live, then `peer` hangs for a second before the program stops and releases the engine.
    template <class Peer>
    void HangWhileLive(Peer& peer)
    {
        ASSERT_NO_FATAL_FAILURE(GoLive(FromScreenAndMicrophone()));
        Frozen frozen(peer);
        std::this_thread::sleep_for(1s);
        StopAndRelease(frozen);
    }

    OnAir FromScreenAndMicrophone()
    {
        OnAir on;
        on.video = ScreenIndex();
        on.audio = MicrophoneIndex();
        EXPECT_GE(on.video, 0);
        EXPECT_GE(on.audio, 0);
        return on;
    }

    int m_descriptors = 0;
};

}  // namespace

TEST_F(HungPeers, AStoppedRtmpServerHoldsUpNeitherStopNorRelease)
{
    HangWhileLive(*m_server);
}

TEST_F(HungPeers, AStoppedSoundServerAtGoingOnAirIsALostSourceAndHoldsUpNeitherStopNorRelease)
{
    const OnAir on = FromScreenAndMicrophone();
    const int connections = m_log.Count("OnConnected");
    Frozen frozen(*m_sound);
    ASSERT_TRUE(GoOnAir(on));
    EXPECT_FALSE(m_log.WaitFor("OnConnected", 10s, connections).isNull()) << "the stream goes on, silence for sound";
    const Json::Value lost = m_log.WaitFor("OnSourceLost", 10s, 0, "audio");
    EXPECT_FALSE(lost.isNull()) << "the microphone that does not answer is told";
    std::this_thread::sleep_for(1s);
    StopAndRelease(frozen);
}

TEST_F(HungPeers, AStoppedXServerWhileOnAirIsALostSourceAndHoldsUpNeitherStopNorRelease)
{
    ASSERT_NO_FATAL_FAILURE(GoLive(FromScreenAndMicrophone()));
    Frozen frozen(*m_display);
    const Json::Value lost = m_log.WaitFor("OnSourceLost", 10s, 0, "video");
    EXPECT_FALSE(lost.isNull()) << "the screen that gives nothing is told";
    const Json::Value later = m_log.WaitFor("OnStatistics", 5s, m_log.Count("OnStatistics") + 1);
    EXPECT_GT(later["kbps"].asInt(), 0) << "the stream goes on, black for the screen";
    StopAndRelease(frozen);
}

TEST_F(HungPeers, DeviceAndPlayerListsAnswerWhileTheSoundAndXServersHang)
{
    TonePlayer player("ListedPlayer", "player_sink");
    std::vector<std::string> players;
    ASSERT_TRUE(WaitUntil([&] { return m_engine->GetNameList(players) && !players.empty(); }));
    Frozen sound(*m_sound);
    Frozen display(*m_display);
    const char16_t** names = nullptr;
    unsigned count = 0;
    EXPECT_LT(Timed([&] { m_engine->GetVideoDevices(&names, &count); }), kCallBound);
    EXPECT_LT(Timed([&] { m_engine->GetAudioDevices(&names, &count); }), kCallBound);
    bool microphone = false;
    for (unsigned i = 0; i < count; ++i)
        microphone |= std::u16string(names[i]).find(u"FakeMicSink") != std::u16string::npos;
    EXPECT_TRUE(microphone) << "the devices found before the server hung";
    players.clear();
    EXPECT_LT(Timed([&] { m_engine->GetNameList(players); }), kCallBound);
    EXPECT_EQ(players, std::vector<std::string>{"ListedPlayer"});
    EXPECT_LT(Timed([&] { Command(R"({"cmd":"GetPlayerList","params":null})"); }), kCallBound);
    EXPECT_LT(Timed([this] { m_engine->Release(); }), kCallBound);
    m_engine = nullptr;
    sound.Thaw();
    display.Thaw();
    EXPECT_TRUE(WaitUntil(NoEngineThread, 20s)) << "the probe under way ends once the servers go on";
}

TEST_F(Publishing, AStartWhileTheStopStillEndsGoesLiveOnceItHasEnded)
{
    ASSERT_NO_FATAL_FAILURE(GoLive());
    std::this_thread::sleep_for(1s);
    m_engine->StopPublish();
    ASSERT_TRUE(GoOnAir({}));
    EXPECT_FALSE(m_log.WaitFor("OnPublishStopped", 5s).isNull()) << "the first publication ended";
    EXPECT_FALSE(m_log.WaitFor("OnConnected", 10s, 1).isNull()) << "and the second went live";
    GoOffAir(2s);
    const auto recordings = m_server->Recordings();
    ASSERT_EQ(recordings.size(), 2u);
    EXPECT_GT(Probe(recordings.back()).duration, 1.0);
}

namespace {

// A program that goes off air from its handler of the connection's news, and lets the
// engine go from its handler of the end.
class ReentrantProgram : public NotificationLog {
public:
    bool OnEngineMessage(const char* message) override
    {
        NotificationLog::OnEngineMessage(message);
        const std::string text = message ? message : "";
        if (text.find("\"OnConnected\"") != std::string::npos) m_engine->StopPublish();
        if (text.find("\"OnPublishStopped\"") != std::string::npos && !m_released.exchange(true)) m_engine->Release();
        return true;
    }

    ICastorn* m_engine = nullptr;
    std::atomic<bool> m_released{false};
};

}  // namespace

TEST_F(Publishing, TheProgramMayStopAndReleaseFromItsNotificationHandler)
{
    m_engine->Release();
    ReentrantProgram program;
    m_engine = program.m_engine = CreateCastorn(&program);
    ASSERT_NE(m_engine, nullptr);
    ASSERT_TRUE(GoOnAir({}));
    ASSERT_TRUE(WaitUntil([&] { return program.m_released.load(); }, 15s)) << "TearDown releases it";
    m_engine = nullptr;
    EXPECT_TRUE(WaitUntil(NoEngineThread, 10s)) << "the engine ended after its handler returned";
    EXPECT_EQ(program.Count("OnConnected"), 1);
    EXPECT_EQ(program.Count("OnPublishStopped"), 1);
    ASSERT_EQ(m_server->Recordings().size(), 1u);
    EXPECT_EQ(Probe(m_server->Recordings().front()).videoCodec, "h264");
}
