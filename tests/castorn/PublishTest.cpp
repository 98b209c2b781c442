// The engine on air against real peers: nginx recording what it gets, a
// PulseAudio server with null outputs, Xvfb. Driven through ICastorn in the
// program's order of calls.
#include "OnAirFixture.h"
#include "ProcessTraces.h"

#include "support/LoopbackPort.h"
#include "support/RootPaint.h"
#include "support/WaitUntil.h"

#include <gst/gst.h>
#include <gtest/gtest.h>

#include <dirent.h>

#include <algorithm>
#include <array>
#include <mutex>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

using namespace castorn_test;
using namespace std::chrono_literals;

namespace {

// The program's side of the preview: what reached it, and whether a call was still
// under way once the engine had said that none would be. A slow one takes most of the
// time between pictures, so that the engine is mostly inside it when told to stop.
class PreviewLog : public ICastornPreview {
public:
    explicit PreviewLog(std::chrono::milliseconds slowness = {}) : m_slowness(slowness) {}

    void OnPreviewFrame(WindowHandle frame, const std::uint8_t* pixels, int width, int height, int stride) override
    {
        std::this_thread::sleep_for(m_slowness);
        const std::lock_guard lock(m_mutex);
        m_late += m_closed ? 1 : 0;
        ++m_pictures;
        m_frame = frame;
        m_width = width;
        m_height = height;
        const std::uint8_t* pixel = pixels + static_cast<std::ptrdiff_t>(height / 4) * stride + (width / 4) * 4;
        m_colour = {pixel[2], pixel[1], pixel[0]};
    }

    // After StopPublish, Release or another receiver's registration returned.
    void Closed()
    {
        const std::lock_guard lock(m_mutex);
        m_closed = true;
    }
    void Reopened()
    {
        const std::lock_guard lock(m_mutex);
        m_closed = false;
    }
    int Pictures() const
    {
        const std::lock_guard lock(m_mutex);
        return m_pictures;
    }
    int Late() const
    {
        const std::lock_guard lock(m_mutex);
        return m_late;
    }
    WindowHandle Frame() const
    {
        const std::lock_guard lock(m_mutex);
        return m_frame;
    }
    std::array<int, 2> Size() const
    {
        const std::lock_guard lock(m_mutex);
        return {m_width, m_height};
    }
    // Red, green and blue a quarter of the way in (the pointer sits in the middle of the screen).
    std::array<int, 3> Colour() const
    {
        const std::lock_guard lock(m_mutex);
        return m_colour;
    }
    // More pictures than `seen` within a few seconds.
    bool More(int seen) const
    {
        return WaitUntil([&] { return Pictures() > seen; }, 5s);
    }

private:
    const std::chrono::milliseconds m_slowness;
    mutable std::mutex m_mutex;
    bool m_closed = false;
    int m_pictures = 0;
    int m_late = 0;
    WindowHandle m_frame = 0;
    int m_width = 0;
    int m_height = 0;
    std::array<int, 3> m_colour{};
};

bool Near(const std::array<int, 3>& colour, const std::array<int, 3>& expected)
{
    constexpr int kConversionError = 24;  // through I420 and back
    for (std::size_t i = 0; i < colour.size(); ++i)
        if (std::abs(colour[i] - expected[i]) > kConversionError) return false;
    return true;
}

// Whether a level report after the first `from` of them is above `percent`.
bool LevelAbove(NotificationLog& log, int percent, int from)
{
    for (int i = from; i < log.Count("OnAudioPercent"); ++i)
        if (log.WaitFor("OnAudioPercent", 0s, i)["percent"].asInt() > percent) return true;
    return false;
}

}  // namespace

TEST_F(Publishing, ScreenAndMicrophoneAtTheDefaultParametersReachTheServer)
{
    const int screen = ScreenIndex();
    const int microphone = MicrophoneIndex();
    ASSERT_GE(screen, 0) << "the X screen is offered as a video device";
    ASSERT_GE(microphone, 0) << "the sound server's sources are offered";
    const OnAir on{.video = screen, .audio = microphone};
    ASSERT_NO_FATAL_FAILURE(GoLive(on));
    GoOffAir(4s);

    ExpectAsAsked(OnlyRecording(), on);
    EXPECT_EQ(m_log.Count("OnSourceLost"), 0) << "sources that give media are never taken for lost";
    EXPECT_GE(m_log.Count("OnAudioPercent"), 12) << "a few level reports a second";
    for (const auto& text : m_log.Texts()) EXPECT_EQ(text.find("qex"), std::string::npos) << "the key stays inside";
}

TEST_F(Publishing, NoDevicesStillStreamBlackAndSilenceAtOtherParameters)
{
    const OnAir on{.width = 640, .height = 480, .fps = 25, .videoBitrate = 800000, .bFrames = 2, .quality = 60};
    ASSERT_NO_FATAL_FAILURE(GoLive(on));
    GoOffAir(3s);

    ExpectAsAsked(OnlyRecording(), on);
    EXPECT_EQ(m_log.WaitFor("OnAudioPercent", 1s)["percent"].asInt(), 0) << "silence";
}

TEST_F(Publishing, TheMicrophoneLevelFollowsTheSoundAndTheMute)
{
    TonePlayer tone("Microphone", "mic_sink");
    const int microphone = MicrophoneIndex();
    ASSERT_TRUE(GoOnAir({.audio = microphone, .volume = 100}));
    EXPECT_TRUE(WaitUntil([&] { return LevelAbove(m_log, 80, 5); }, 5s)) << "a tone at -2 dB shows near full scale";
    GoOffAir();

    ASSERT_TRUE(GoOnAir({.audio = microphone, .mute = true}));
    const int before = m_log.Count("OnAudioPercent");
    ASSERT_FALSE(m_log.WaitFor("OnAudioPercent", 3s, before + 5).isNull());
    for (int i = before; i < before + 5; ++i)
        EXPECT_EQ(m_log.WaitFor("OnAudioPercent", 0s, i)["percent"].asInt(), 0)
            << testing::PrintToString(m_log.Texts());
    GoOffAir();
}

TEST_F(Publishing, TheLevelIsThatOfTheSoundSentBackgroundAudioIncluded)
{
    TonePlayer player("LevelPlayer", "player_sink");
    ASSERT_TRUE(Command(R"({"cmd":"SelectPlayerName","params":{"player":"LevelPlayer"}})"));
    ASSERT_TRUE(GoOnAir({.audio = MicrophoneIndex(), .volume = 100}));
    ASSERT_FALSE(m_log.WaitFor("OnAudioPercent", 3s, 5).isNull());
    EXPECT_FALSE(LevelAbove(m_log, 0, 0)) << "a silent microphone, nothing mixed in yet";
    const int before = m_log.Count("OnAudioPercent");
    m_engine->EnableBackgroundAudio(true);
    EXPECT_TRUE(WaitUntil([&] { return LevelAbove(m_log, 80, before); }, 5s)) << "the player's tone is in the mix";
    GoOffAir();
}

TEST_F(Publishing, AnUnusableAddressIsRefusedWithTheReasonAndTheEngineGoesOn)
{
    EXPECT_FALSE(GoOnAir({}, "rtmp://"));
    const Json::Value noHost = m_log.WaitFor("OnPublishError", 2s);
    EXPECT_NE(noHost["message"].asString().find("no host"), std::string::npos);
    EXPECT_EQ(noHost["reason"].asString(), castorn_notification::kReasonAddress);
    EXPECT_TRUE(noHost["final"].asBool());
    EXPECT_FALSE(GoOnAir({}, "http://127.0.0.1"));
    EXPECT_NE(m_log.WaitFor("OnPublishError", 2s, 1)["message"].asString().find("unknown scheme"), std::string::npos);
    EXPECT_FALSE(m_engine->StopPublish()) << "nothing is on air";

    ASSERT_NO_FATAL_FAILURE(GoLive());
    GoOffAir();
}

TEST_F(Publishing, ValuesThatCannotMakeAStreamAreRefusedBeforeAnythingIsSent)
{
    const std::pair<OnAir, std::pair<const char*, int>> refused[] = {
        {{.width = 0}, {castorn_parameter::kWidth, 0}},
        {{.fps = -5}, {castorn_parameter::kFps, -5}},
        {{.videoBitrate = 0}, {castorn_parameter::kVideoBitrate, 0}},
    };
    int errors = 0;
    for (const auto& [on, field] : refused) {
        EXPECT_FALSE(GoOnAir(on));
        const Json::Value error = m_log.WaitFor("OnPublishError", 0s, errors++);
        EXPECT_EQ(error["reason"].asString(), castorn_notification::kReasonParameter) << field.first;
        EXPECT_EQ(error["field"].asString(), field.first);
        EXPECT_EQ(error["value"].asInt(), field.second);
        EXPECT_TRUE(error["final"].asBool());
        EXPECT_FALSE(m_engine->StopPublish()) << "nothing is on air";
    }
    EXPECT_EQ(m_log.Count("OnConnecting"), 0);
    ASSERT_NO_FATAL_FAILURE(GoLive());
    GoOffAir();
    EXPECT_EQ(m_server->Publishes().size(), 1u) << "the server saw the one stream that could be made";
}

TEST_F(Publishing, StatisticsTellTheRateSentWhileLiveAndGoingOffAirIsTheReason)
{
    ASSERT_NO_FATAL_FAILURE(GoLive());
    const Json::Value third = m_log.WaitFor("OnStatistics", 5s, 2);
    ASSERT_FALSE(third.isNull()) << "once a second while connected";
    EXPECT_GE(third["liveMs"].asInt64(), 2500);
    EXPECT_GE(third["framesSent"].asInt64(), 20) << "10 frames a second";
    EXPECT_EQ(third["framesDropped"].asInt64(), 0);
    EXPECT_TRUE(third["bytesQueued"].isInt64());
    GoOffAir();
    const Json::Value ended = m_log.WaitFor("OnDisconnected", 0s);
    EXPECT_EQ(ended["reason"].asString(), castorn_notification::kReasonStopped);
    const int after = m_log.Count("OnStatistics");
    std::this_thread::sleep_for(1500ms);
    EXPECT_EQ(m_log.Count("OnStatistics"), after) << "none off air";

    // Black video and silence make a steady stream: the rate told is the recording's.
    const auto files = m_server->Recordings();
    ASSERT_EQ(files.size(), 1u);
    const double recordedKbps = std::filesystem::file_size(files[0]) * 8 / 1000.0 / Probe(files[0]).duration;
    EXPECT_NEAR(third["kbps"].asInt(), recordedKbps, recordedKbps / 3);
}

TEST_F(Publishing, NginxGetsTheKeyAsThePublishArgumentsAndTheEndWithoutAReset)
{
    for (const std::string key : {"sign=1700000000-0af3", ""}) {
        ASSERT_NO_FATAL_FAILURE(GoLive({.key = key}));
        GoOffAir(1s);
    }
    ASSERT_TRUE(WaitUntil([&] { return m_server->Publishes().size() == 2; }, 3s));
    EXPECT_EQ(m_server->Publishes()[0], "name=s args=sign=1700000000-0af3") << "as on_publish and exec_publish get it";
    EXPECT_EQ(m_server->Publishes()[1], "name=s args=");
    EXPECT_EQ(m_server->ErrorLog().find("reset by peer"), std::string::npos);
    EXPECT_EQ(m_server->Recordings().size(), 2u);
}

TEST_F(Publishing, AnIPv6LiteralAddressPublishes)
{
    if (!std::filesystem::exists("/proc/net/if_inet6")) GTEST_SKIP() << "no IPv6 here";
    ASSERT_TRUE(GoOnAir({}, m_server->AddressV6()));
    const Json::Value connected = m_log.WaitFor("OnConnected", 5s);
    ASSERT_FALSE(connected.isNull());
    EXPECT_EQ(connected["address"].asString(), m_server->AddressV6() + "/live/s");
    GoOffAir(2s);
    EXPECT_EQ(OnlyRecording().videoCodec, "h264");
}

TEST_F(Publishing, NothingListeningIsReportedAsRefusedAndTriedAgain)
{
    const std::string nobody = "rtmp://127.0.0.1:" + std::to_string(test_support::FreeLoopbackPort());
    ASSERT_TRUE(GoOnAir({}, nobody));
    const Json::Value error = m_log.WaitFor("OnPublishError", 3s);
    EXPECT_EQ(error["reason"].asString(), castorn_notification::kReasonRefused);
    EXPECT_FALSE(error["final"].asBool());
    EXPECT_NE(error["message"].asString().find("Connection refused"), std::string::npos);
    const Json::Value retry = m_log.WaitFor("OnReconnecting", 1s);
    EXPECT_EQ(retry["reason"].asString(), castorn_notification::kReasonRefused);
    EXPECT_EQ(retry["attempt"].asInt(), 1);
    EXPECT_FALSE(m_log.WaitFor("OnConnecting", 4s, 1).isNull()) << "a second attempt";
    GoOffAir();
    EXPECT_EQ(m_log.Count("OnDisconnected"), 0) << "never live";
}

TEST_F(Publishing, ARecordingResumesWhenTheServerComesBackAfterFiveSeconds)
{
    ASSERT_NO_FATAL_FAILURE(GoLive());
    std::this_thread::sleep_for(2s);
    m_server->Stop();
    EXPECT_EQ(m_log.WaitFor("OnDisconnected", 3s)["reason"].asString(), castorn_notification::kReasonLost);
    const Json::Value retry = m_log.WaitFor("OnReconnecting", 1s);
    EXPECT_EQ(retry["delayMs"].asInt(), 2000);
    EXPECT_EQ(retry["reason"].asString(), castorn_notification::kReasonLost);
    std::this_thread::sleep_for(5s);
    m_server->Start();
    ASSERT_FALSE(m_log.WaitFor("OnConnected", 15s, 1).isNull()) << "the engine connects again by itself";
    GoOffAir(3s);

    const auto files = m_server->Recordings();
    ASSERT_EQ(files.size(), 2u);
    const MediaInfo resumed = Probe(files.back());
    EXPECT_EQ(resumed.videoCodec, "h264");
    EXPECT_EQ(resumed.audioCodec, "aac");
    EXPECT_NEAR(resumed.duration, 3.0, 0.6) << "from a key frame on, nothing lost after the return";
    EXPECT_GE(m_log.Count("OnReconnecting"), 2) << "refused tries while the server was away";
}

TEST_F(Publishing, GoingOffAirWhileStillConnectingLeavesNoConnectionOpen)
{
    ASSERT_NO_FATAL_FAILURE(GoLive());
    EXPECT_EQ(ConnectionsTo(m_server->Port()), 1) << "the live connection is seen";
    GoOffAir();
    for (int cycle = 0; cycle < 12; ++cycle) {
        ASSERT_TRUE(GoOnAir({}));
        GoOffAir(std::chrono::milliseconds(20 * cycle));
    }
    EXPECT_TRUE(WaitUntil([&] { return ConnectionsTo(m_server->Port()) == 0; }, 20s))
        << ConnectionsTo(m_server->Port()) << " connections left open";
}

TEST_F(Publishing, AHungServerNeverHoldsUpStoppingOrRelease)
{
    ASSERT_NO_FATAL_FAILURE(GoLive());
    m_server->Freeze(true);
    GoOffAir(1s);
    ASSERT_TRUE(GoOnAir({})) << "going on air again while the server still hangs";
    std::this_thread::sleep_for(1s);
    m_engine->Release();
    m_engine = nullptr;
    m_server->Freeze(false);
}

// With GStreamer's leak tracer, which must be on before GStreamer starts.
class ReleasingOnAir : public Publishing {
protected:
    void SetUp() override
    {
        // Only the stream's own kinds: the tracer's list of live objects drops a reference of
        // its own on registry features and device providers when it is freed.
        if (!gst_is_initialized())
            setenv("GST_TRACERS", "leaks(filters=\"GstElement,GstPad,GstBuffer,GstSample,GstMessage,GstEvent\")", 1);
        Publishing::SetUp();
    }

    // GStreamer's task pool keeps a finished task's thread idle for a while, as many as ran at
    // once; only what is left once they have gone says whether an engine leaves threads.
    static std::vector<std::string> SettledThreadNames()
    {
        auto names = ThreadNames();
        for (int quietTenths = 0, tries = 0; quietTenths < 10 && tries < 100; ++tries) {
            std::this_thread::sleep_for(100ms);
            auto now = ThreadNames();
            quietTenths = now.size() == names.size() ? quietTenths + 1 : 0;
            names = std::move(now);
        }
        return names;
    }

    // Elements, pads, buffers and the like still alive; -1 without the tracer.
    static int LiveStreamObjects()
    {
        int count = -1;
        GList* tracers = gst_tracing_get_active_tracers();
        for (GList* tracer = tracers; tracer; tracer = tracer->next) {
            if (g_strcmp0(G_OBJECT_TYPE_NAME(tracer->data), "GstLeaksTracer") != 0) continue;
            GstStructure* live = nullptr;
            g_signal_emit_by_name(tracer->data, "get-live-objects", &live);
            const GValue* list = gst_structure_get_value(live, "live-objects-list");
            count = 0;
            for (guint i = 0; i < gst_value_list_get_size(list); ++i) {
                const GType type =
                    gst_structure_get_field_type(gst_value_get_structure(gst_value_list_get_value(list, i)), "object");
                for (const GType kind : {GST_TYPE_ELEMENT, GST_TYPE_PAD, GST_TYPE_BUFFER, GST_TYPE_SAMPLE,
                                         GST_TYPE_MESSAGE, GST_TYPE_EVENT})
                    count += g_type_is_a(type, kind) ? 1 : 0;
            }
            gst_structure_free(live);
        }
        g_list_free_full(tracers, gst_object_unref);
        return count;
    }
};

TEST_F(ReleasingOnAir, EndsThePublicationAndLeavesNoThreadAndNoStreamObjectBehind)
{
    ASSERT_NO_FATAL_FAILURE(GoLive());
    std::this_thread::sleep_for(1s);
    m_engine->Release();
    m_engine = nullptr;
    ASSERT_TRUE(WaitUntil(NoEngineThread, 10s)) << "what Release left to the engine's threads ends";
    const auto afterFirst = SettledThreadNames();
    const int live = LiveStreamObjects();
    if (live < 0) GTEST_SKIP() << "GStreamer started before this test, without its leak tracer: run it alone";
    EXPECT_EQ(live, 0);

    // A second engine, released on air the same way, leaves no more threads than the first.
    m_engine = CreateCastorn(&m_log);
    ASSERT_NO_FATAL_FAILURE(GoLive());
    std::this_thread::sleep_for(1s);
    m_engine->Release();
    m_engine = nullptr;
    EXPECT_TRUE(WaitUntil(NoEngineThread, 10s));
    const auto afterSecond = SettledThreadNames();
    EXPECT_LE(afterSecond.size(), afterFirst.size())
        << "after the first: " << testing::PrintToString(afterFirst)
        << "\nafter the second: " << testing::PrintToString(afterSecond);
    EXPECT_EQ(LiveStreamObjects(), 0);
    EXPECT_EQ(m_log.Count("OnPublishStopped"), 2);
    ASSERT_EQ(m_server->Recordings().size(), 2u);
    EXPECT_EQ(Probe(m_server->Recordings().back()).videoCodec, "h264");
}

TEST_F(Publishing, TheReceiverGetsTheScreenFittedToItsSizeAndNothingOnceOffAirUntilOnAirAgain)
{
    const RootPaint paint(m_display->Name(), 0xff8040);
    PreviewLog preview(80ms);  // of the 100 ms between pictures at 10 frames a second
    const OnAir on{.video = ScreenIndex(), .window = 0x5a17, .preview = &preview};
    ASSERT_TRUE(GoOnAir(on));
    ASSERT_TRUE(preview.More(3));
    EXPECT_EQ(preview.Frame(), 0x5a17u) << "the handle SetVideoParams had";
    EXPECT_EQ(preview.Size(), (std::array{318, 238})) << "the stream's 4:3 within 318 by 250, even-sized";
    const auto orange = [&] { return Near(preview.Colour(), {0xff, 0x80, 0x40}); };
    EXPECT_TRUE(WaitUntil(orange, 5s)) << "the screen's colour: " << preview.Colour()[0] << "," << preview.Colour()[1]
                                       << "," << preview.Colour()[2];

    const int stopsBefore = m_log.Count("OnPublishStopped");
    m_engine->StopPublish();
    preview.Closed();
    ASSERT_FALSE(m_log.WaitFor("OnPublishStopped", 5s, stopsBefore).isNull());
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(preview.Late(), 0) << "StopPublish waits for a picture being handed over, and hands over no more";

    preview.Reopened();
    const int before = preview.Pictures();
    ASSERT_TRUE(GoOnAir(on));
    EXPECT_TRUE(preview.More(before)) << "the receiver stays registered for the next going on air";
    PreviewLog other(80ms);
    ASSERT_TRUE(SetPreviewReceiver(&other, 160, 160));
    preview.Closed();
    EXPECT_TRUE(other.More(0)) << "a new receiver takes over while on air";
    EXPECT_EQ(other.Size(), (std::array{318, 238})) << "at the size this publication began with";
    m_engine->Release();
    other.Closed();
    m_engine = nullptr;
    std::this_thread::sleep_for(500ms);
    EXPECT_EQ(preview.Late(), 0);
    EXPECT_EQ(other.Late(), 0) << "nothing once Release has returned, on air as it was";
}
