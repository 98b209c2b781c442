// The engine on air against real peers: nginx recording what it gets, a
// PulseAudio server with null outputs, Xvfb. Driven through ICastorn in the
// program's order of calls.
#include "OnAirFixture.h"
#include "ProcessTraces.h"

#include "support/LoopbackPort.h"
#include "support/WaitUntil.h"

#include <gst/gst.h>
#include <gtest/gtest.h>
#include <xcb/xcb.h>

#include <dirent.h>

#include <algorithm>

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

// A white top-level window of the test's own, standing in for the program's frame control.
class TestWindow {
public:
    TestWindow() : m_connection(xcb_connect(nullptr, nullptr))
    {
        xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(m_connection)).data;
        m_window = xcb_generate_id(m_connection);
        const uint32_t white = screen->white_pixel;
        xcb_create_window(m_connection, XCB_COPY_FROM_PARENT, m_window, screen->root, 10, 10, 400, 200, 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, XCB_CW_BACK_PIXEL, &white);
        xcb_map_window(m_connection, m_window);
        xcb_flush(m_connection);
    }
    ~TestWindow() { xcb_disconnect(m_connection); }

    WindowHandle Id() const { return m_window; }
    void Destroy()
    {
        xcb_destroy_window(m_connection, m_window);
        xcb_flush(m_connection);
    }
    uint32_t Pixel(int x, int y) const
    {
        auto* image = xcb_get_image_reply(m_connection,
                                          xcb_get_image(m_connection, XCB_IMAGE_FORMAT_Z_PIXMAP, m_window,
                                                        static_cast<int16_t>(x), static_cast<int16_t>(y), 1, 1, ~0u),
                                          nullptr);
        uint32_t pixel = 0xdeadbeef;
        if (image && xcb_get_image_data_length(image) >= 4)
            std::memcpy(&pixel, xcb_get_image_data(image), sizeof pixel);
        std::free(image);
        return pixel & 0xffffff;
    }

private:
    xcb_connection_t* m_connection;
    xcb_window_t m_window;
};

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
    for (int i = before; i < before + 5; ++i) EXPECT_EQ(m_log.WaitFor("OnAudioPercent", 0s, i)["percent"].asInt(), 0);
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

TEST_F(Publishing, ThePreviewIsDrawnIntoTheFrameWindowAndItsLossEndsOnlyTheDrawing)
{
    TestWindow frame;
    ASSERT_TRUE(WaitUntil([&] { return frame.Pixel(200, 100) == 0xffffff; }, 3s)) << "the window is up, white";
    ASSERT_TRUE(GoOnAir({.window = frame.Id()}));
    EXPECT_TRUE(WaitUntil([&] { return frame.Pixel(200, 100) == 0; }, 5s)) << "black video fills the middle";
    EXPECT_EQ(frame.Pixel(5, 100), 0u) << "and the sides outside the 4:3 picture are blacked";
    frame.Destroy();
    GoOffAir(500ms);
    EXPECT_EQ(m_server->Recordings().size(), 1u) << "the stream went on without its preview";
}
