// Capture sources lost while on air, and before: the stream goes on with silence or
// black in their place, and takes them back when they return.
#include "OnAirFixture.h"
#include "TestCamera.h"

#include "support/RootPaint.h"
#include "support/WaitUntil.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <thread>

using namespace castorn_test;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

constexpr std::uint32_t kWhitePixel = 0xffffff;

double Seconds(Clock::duration duration)
{
    return std::chrono::duration<double>(duration).count();
}

class SourceLoss : public Publishing {
protected:
    void SetUp() override
    {
        Publishing::SetUp();
        if (!IsSkipped()) StartTone();
    }

    // Into the microphone; a player dies with its sound server.
    void StartTone() { m_tone = std::make_unique<TonePlayer>("Microphone", "mic_sink", 0.5); }

    void StopSoundServer()
    {
        m_tone.reset();
        m_sound->Stop();
    }

    void StartSoundServer()
    {
        m_sound->Start();
        StartTone();
    }

    // The test camera, in `state`: its index in the list.
    int Camera(CameraState state)
    {
        InstallTestCamera();
        SetTestCamera(state);
        const int camera = DeviceIndex(true, kTestCameraName);
        EXPECT_GE(camera, 0) << "the test camera is listed";
        return camera;
    }

    // On air with the screen and the microphone for three seconds, then the sound
    // server goes away; `stopped` is when.
    void GoOnAirAndLoseTheSoundServer(Clock::time_point& stopped)
    {
        const int screen = ScreenIndex();
        const int microphone = MicrophoneIndex();
        EXPECT_GE(screen, 0);
        EXPECT_GE(microphone, 0);
        ASSERT_NO_FATAL_FAILURE(GoLive({.video = screen, .audio = microphone}));
        std::this_thread::sleep_for(3s);
        stopped = Clock::now();
        StopSoundServer();
    }

    // On air with `on` while the sound server is away, which `restart` brings back with
    // a tone for `source` three seconds into the stream: the loss is told (`lost`), and
    // the recording is silent until the tone comes with the source.
    void GoOnAirWithoutTheSoundServer(const OnAir& on, const char* source, const std::function<void()>& restart,
                                      Json::Value& lost)
    {
        StopSoundServer();
        ASSERT_TRUE(GoOnAir(on));
        lost = m_log.WaitFor("OnSourceLost", 5s, 0, source);
        ASSERT_FALSE(lost.isNull()) << "which source is missing is told";
        ASSERT_FALSE(m_log.WaitFor("OnConnected", 5s).isNull()) << "the stream starts all the same";
        const auto connected = Clock::now();
        std::this_thread::sleep_for(3s);
        const auto restarted = Clock::now();
        restart();
        ASSERT_FALSE(m_log.WaitFor("OnSourceBack", 6s, 0, source).isNull());
        GoOffAir(3s);

        const auto runs = Runs(SoundPieces(CheckContinuousRecording()));
        std::printf("recording: %s\n", Describe(runs).c_str());
        ASSERT_GE(runs.size(), 2u) << Describe(runs);
        EXPECT_EQ(runs.front().sound, Sound::Silent) << Describe(runs);
        EXPECT_GE(runs.front().seconds, Seconds(restarted - connected) - 0.5);
        EXPECT_LE(runs.front().seconds, Seconds(restarted - connected) + 5)
            << "the tone within five seconds of the return";
        EXPECT_EQ(runs.back().sound, Sound::Tone) << Describe(runs);
    }

    // Unloads the null sink whose name (quoted or not) starts with `prefix`, as someone else may.
    void UnloadSink(const std::string& prefix)
    {
        const std::string nullSink = "module-null-sink\tsink_name=";
        std::istringstream modules(m_sound->Pactl("list modules short"));
        for (std::string line; std::getline(modules, line);) {
            const auto at = line.find(nullSink);
            if (at == std::string::npos) continue;
            const auto name = at + nullSink.size() + (line.compare(at + nullSink.size(), 1, "\"") == 0 ? 1 : 0);
            if (line.compare(name, prefix.size(), prefix) == 0)
                m_sound->Pactl("unload-module " + line.substr(0, line.find('\t')));
        }
    }

    // One recording with both tracks to the end, and no hole in either.
    std::string CheckContinuousRecording()
    {
        const auto files = m_server->Recordings();
        EXPECT_EQ(files.size(), 1u) << "one publication from start to end";
        if (files.empty()) return {};
        const MediaInfo media = Probe(files.back());
        EXPECT_EQ(media.videoCodec, "h264");
        EXPECT_EQ(media.audioCodec, "aac");
        EXPECT_NEAR(media.duration, m_onAirSeconds, 1.0);
        ExpectContinuousTracks(files.back(), 10);
        return files.back();
    }

    // Black while a source was away, at 10 frames a second, with its white picture before
    // and after.
    static void ExpectBlackBetweenWhite(const std::vector<double>& brightness, long minBlack, long maxBlack)
    {
        const auto black = std::count_if(brightness.begin(), brightness.end(), [](double mean) { return mean < 30; });
        const auto white = std::count_if(brightness.begin(), brightness.end(), [](double mean) { return mean > 200; });
        std::printf("%zu frames: %td black, %td white\n", brightness.size(), black, white);
        EXPECT_GE(black, minBlack);
        EXPECT_LE(black, maxBlack);
        EXPECT_GE(white, 45) << "the source before and after";
        ASSERT_FALSE(brightness.empty());
        EXPECT_GT(brightness.back(), 200) << "the source's picture at the end";
    }

    std::unique_ptr<TonePlayer> m_tone;
};

}  // namespace

TEST_F(SourceLoss, TheSoundServerGoingAwayForFiveSecondsLeavesSilenceAndTheMicrophoneReturns)
{
    Clock::time_point stopped;
    ASSERT_NO_FATAL_FAILURE(GoOnAirAndLoseTheSoundServer(stopped));
    const Json::Value lost = m_log.WaitFor("OnSourceLost", 3s, 0, "audio");
    ASSERT_FALSE(lost.isNull()) << "the microphone's loss is told";
    EXPECT_NE(lost["name"].asString().find("FakeMicSink"), std::string::npos);
    EXPECT_FALSE(lost["message"].asString().empty());
    std::this_thread::sleep_until(stopped + 5s);
    const auto restarted = Clock::now();
    StartSoundServer();
    const Json::Value back = m_log.WaitFor("OnSourceBack", 5s, 0, "audio");
    ASSERT_FALSE(back.isNull()) << "the microphone is taken again";
    EXPECT_NE(back["name"].asString().find("FakeMicSink"), std::string::npos);
    EXPECT_FALSE(m_log.WaitFor("OnSourceBack", 5s, 0, "background").isNull())
        << "background sound follows the same rule";
    const auto returned = Clock::now();
    GoOffAir(4s);

    EXPECT_EQ(m_log.Count("OnPublishError"), 0);
    EXPECT_EQ(m_log.Count("OnConnected"), 1) << "the connection was never dropped";
    const auto runs = Runs(SoundPieces(CheckContinuousRecording()));
    std::printf("back %.2f s after the sound server's return; recording: %s\n", Seconds(returned - restarted),
                Describe(runs).c_str());
    // The microphone's first sound may come late; then tone, silence while away, tone to the end.
    ASSERT_GE(runs.size(), 3u) << Describe(runs);
    const auto tone = runs.end() - 3;
    EXPECT_EQ(tone[0].sound, Sound::Tone) << Describe(runs);
    EXPECT_EQ(tone[1].sound, Sound::Silent) << Describe(runs);
    EXPECT_GE(tone[1].seconds, Seconds(restarted - stopped) - 1) << "silence for as long as the server was away";
    EXPECT_LE(tone[1].seconds, Seconds(restarted - stopped) + 5) << "the tone again within five seconds of its return";
    EXPECT_EQ(tone[2].sound, Sound::Tone) << Describe(runs);
}

TEST_F(SourceLoss, ASoundServerThatNeverReturnsLeavesSilenceToTheEnd)
{
    Clock::time_point stopped;
    ASSERT_NO_FATAL_FAILURE(GoOnAirAndLoseTheSoundServer(stopped));
    ASSERT_FALSE(m_log.WaitFor("OnSourceLost", 3s, 0, "audio").isNull());
    std::this_thread::sleep_for(6s);
    const auto offAir = Clock::now();
    GoOffAir();

    EXPECT_EQ(m_log.Count("OnSourceBack"), 0);
    EXPECT_EQ(m_log.Count("OnSourceLost", "audio"), 1) << "told once, not at every try";
    EXPECT_EQ(m_log.Count("OnPublishError"), 0);
    const auto runs = Runs(SoundPieces(CheckContinuousRecording()));
    ASSERT_GE(runs.size(), 2u) << Describe(runs);
    EXPECT_EQ(runs.end()[-2].sound, Sound::Tone) << Describe(runs);
    EXPECT_EQ(runs.back().sound, Sound::Silent) << Describe(runs);
    EXPECT_NEAR(runs.back().seconds, Seconds(offAir - stopped), 1.5) << "silence from the loss to the end";
}

TEST_F(SourceLoss, AMicrophoneGoneBeforeGoingOnAirStartsAsSilenceAndIsTakenWhenItComes)
{
    Json::Value lost;
    ASSERT_NO_FATAL_FAILURE(GoOnAirWithoutTheSoundServer(
        {.video = ScreenIndex(), .audio = MicrophoneIndex()}, "audio", [this] { StartSoundServer(); }, lost));
    EXPECT_NE(lost["name"].asString().find("FakeMicSink"), std::string::npos);
}

TEST_F(SourceLoss, BackgroundSoundWithoutASoundServerAtGoingOnAirStartsAsSilenceAndIsHeardWhenItComes)
{
    ASSERT_TRUE(Command(R"({"cmd":"SelectPlayerName","params":{"player":"BackPlayer"}})"));
    m_engine->EnableBackgroundAudio(true);
    Json::Value lost;
    // No microphone: the player is all there is to hear.
    ASSERT_NO_FATAL_FAILURE(GoOnAirWithoutTheSoundServer(
        {.video = ScreenIndex()}, "background",
        [this] {
            m_sound->Start();
            m_tone = std::make_unique<TonePlayer>("BackPlayer");
        },
        lost));
    EXPECT_NE(lost["name"].asString().find(".monitor"), std::string::npos) << "the sound server's source";
}

// Someone unloads the engine's sink while on air: the sound server would move its
// recording to the microphone. No microphone and no player: a tone heard is the microphone.
TEST_F(SourceLoss, ABackgroundSinkRemovedOnAirIsLostAndTakenAgainNeverReplacedByTheMicrophone)
{
    char buffer[kCommandReplySize];
    char* reply = buffer;
    ASSERT_TRUE(m_engine->ExecuteCommand(R"({"cmd":"SelectPlayerName","params":{"player":"BackPlayer"}})", &reply));
    m_engine->EnableBackgroundAudio(true);
    ASSERT_NO_FATAL_FAILURE(GoLive({.video = ScreenIndex()}));
    std::this_thread::sleep_for(2s);
    UnloadSink("castorn_bg_");
    ASSERT_FALSE(m_log.WaitFor("OnSourceLost", 5s, 0, "background").isNull()) << "the loss is told";
    ASSERT_FALSE(m_log.WaitFor("OnSourceBack", 6s, 0, "background").isNull()) << "taken again on the engine's new sink";
    std::this_thread::sleep_for(2s);
    GoOffAir();

    const auto runs = Runs(SoundPieces(CheckContinuousRecording()));
    double tone = 0;
    for (const auto& run : runs) tone += run.sound == Sound::Tone ? run.seconds : 0;
    EXPECT_LT(tone, 0.5) << "the microphone in the background's place: " << Describe(runs);
}

// The microphone's device goes while on air; its tone goes on, now on the speakers,
// whose monitor the sound server would record in the microphone's place.
TEST_F(SourceLoss, AMicrophoneWhoseDeviceGoesOnAirIsLostNotReplacedByAnotherSource)
{
    ASSERT_NO_FATAL_FAILURE(GoLive({.video = ScreenIndex(), .audio = MicrophoneIndex()}));
    std::this_thread::sleep_for(3s);  // the tone comes through a second or two into the stream
    const auto gone = Clock::now();
    UnloadSink("mic_sink");
    ASSERT_FALSE(m_log.WaitFor("OnSourceLost", 5s, 0, "audio").isNull()) << "the loss is told";
    std::this_thread::sleep_for(3s);
    const auto offAir = Clock::now();
    GoOffAir();

    const auto runs = Runs(SoundPieces(CheckContinuousRecording()));
    ASSERT_GE(runs.size(), 2u) << Describe(runs);
    EXPECT_EQ(runs.end()[-2].sound, Sound::Tone) << Describe(runs);
    EXPECT_EQ(runs.back().sound, Sound::Silent) << Describe(runs);
    EXPECT_NEAR(runs.back().seconds, Seconds(offAir - gone), 1.0) << "silence from the loss to the end";
}

TEST_F(SourceLoss, AFailingCameraGivesBlackFramesAtTheSetRateUntilItIsBack)
{
    ASSERT_NO_FATAL_FAILURE(GoLive({.video = Camera(CameraState::Plugged)}));
    std::this_thread::sleep_for(3s);
    SetTestCamera(CameraState::Unplugged);
    const Json::Value lost = m_log.WaitFor("OnSourceLost", 3s, 0, "video");
    ASSERT_FALSE(lost.isNull());
    EXPECT_EQ(lost["name"].asString(), "Test Camera");
    std::this_thread::sleep_for(4s);
    SetTestCamera(CameraState::Plugged);
    EXPECT_FALSE(m_log.WaitFor("OnSourceBack", 4s, 0, "video").isNull()) << "the camera is taken again";
    GoOffAir(3s);

    ExpectBlackBetweenWhite(FrameBrightness(CheckContinuousRecording()), 35, 60);
}

// The X server of the captured screen dies and comes back (a crash, a restart): the
// process outlives it, black takes the screen's place, and the screen is taken again.
TEST_F(SourceLoss, AScreenWhoseDisplayGoesAwayGivesBlackUntilItIsBack)
{
    // The screens listed are those of this display, which takes the fixture's place.
    m_display.reset();
    m_display = std::make_unique<VirtualDisplay>(VirtualDisplay::Restartable{});
    auto paint = std::make_unique<RootPaint>(m_display->Name(), kWhitePixel);
    // The screen's shape, so that no border darkens its frames.
    ASSERT_NO_FATAL_FAILURE(GoLive({.video = ScreenIndex(), .audio = MicrophoneIndex(), .width = 320, .height = 180}));
    std::this_thread::sleep_for(3s);
    paint.reset();
    const auto stopped = Clock::now();
    m_display->Stop();
    ASSERT_FALSE(m_log.WaitFor("OnSourceLost", 3s, 0, "video").isNull());
    std::this_thread::sleep_for(4s);
    m_display->Start();
    paint = std::make_unique<RootPaint>(m_display->Name(), kWhitePixel);
    EXPECT_FALSE(m_log.WaitFor("OnSourceBack", 4s, 0, "video").isNull()) << "the screen is taken again";
    const long away = std::lround(Seconds(Clock::now() - stopped) * 10);
    GoOffAir(3s);
    // Within a second of the frames the screen was away for.
    ExpectBlackBetweenWhite(FrameBrightness(CheckContinuousRecording()), away - 10, away + 10);
}

// The camera opens, but fails before its first frame, while the stream is starting:
// black takes its place from the start, and the stream ends cleanly when asked.
TEST_F(SourceLoss, ACameraFailingAsTheStreamStartsGivesBlackFromTheStartAndTheStreamEndsWhenAsked)
{
    ASSERT_TRUE(GoOnAir({.video = Camera(CameraState::Failing), .audio = MicrophoneIndex()}));
    const Json::Value lost = m_log.WaitFor("OnSourceLost", 5s, 0, "video");
    ASSERT_FALSE(lost.isNull());
    EXPECT_EQ(lost["name"].asString(), "Test Camera");
    ASSERT_FALSE(m_log.WaitFor("OnConnected", 5s).isNull());
    GoOffAir(3s);

    EXPECT_EQ(m_log.Count("OnPublishError"), 0);
    const auto brightness = FrameBrightness(CheckContinuousRecording());
    std::printf("%zu frames\n", brightness.size());
    EXPECT_GE(brightness.size(), 25u) << "three seconds and more at 10 frames a second";
    EXPECT_TRUE(std::all_of(brightness.begin(), brightness.end(), [](double mean) { return mean < 30; }))
        << "black throughout";
}

namespace {

struct Footprint {
    int threads = 0;
    int descriptors = 0;
    long rssKb = 0;
};

int Entries(const char* folder)
{
    std::error_code error;
    const auto entries = std::filesystem::directory_iterator(folder, error);
    return static_cast<int>(std::distance(std::filesystem::begin(entries), std::filesystem::end(entries)));
}

Footprint Measure()
{
    Footprint footprint{Entries("/proc/self/task"), Entries("/proc/self/fd"), 0};
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmRSS:", 0) == 0) footprint.rssKb = std::atol(line.c_str() + 6);
    return footprint;
}

}  // namespace

// The soak of lost sources: SOURCE_SOAK_CYCLES (tools/source-soak.sh) sets how many cycles.
TEST_F(SourceLoss, LosingAndGettingBackTheSourcesLeavesNoThreadsDescriptorsOrMemoryBehind)
{
    const char* asked = std::getenv("SOURCE_SOAK_CYCLES");
    const int cycles = asked ? std::max(2, std::atoi(asked)) : 3;
    const int microphone = MicrophoneIndex();
    ASSERT_NO_FATAL_FAILURE(GoLive({.video = Camera(CameraState::Plugged), .audio = microphone}));
    Footprint first;
    for (int cycle = 0; cycle < cycles; ++cycle) {
        SetTestCamera(CameraState::Unplugged);
        StopSoundServer();
        ASSERT_FALSE(m_log.WaitFor("OnSourceLost", 3s, 0, "video").isNull());
        ASSERT_TRUE(WaitUntil([&] { return m_log.Count("OnSourceLost", "audio") == cycle + 1; }, 3s));
        std::this_thread::sleep_for(500ms);
        SetTestCamera(CameraState::Plugged);
        StartSoundServer();
        ASSERT_TRUE(WaitUntil([&] { return m_log.Count("OnSourceBack", "audio") == cycle + 1; }, 6s)) << cycle;
        ASSERT_TRUE(WaitUntil([&] { return m_log.Count("OnSourceBack", "video") == cycle + 1; }, 3s)) << cycle;
        std::this_thread::sleep_for(1s);
        const Footprint now = Measure();
        std::printf("cycle %d: %d threads, %d descriptors, %ld kB\n", cycle + 1, now.threads, now.descriptors,
                    now.rssKb);
        if (cycle == 0) first = now;
    }
    const Footprint last = Measure();
    GoOffAir();
    EXPECT_EQ(m_log.Count("OnPublishError"), 0);
    EXPECT_EQ(m_log.Count("OnConnected"), 1);
    EXPECT_LE(last.threads, first.threads + 1) << "a retry's thread may still be winding down";
    EXPECT_LE(last.descriptors, first.descriptors);
    if (cycles >= 10) {
        EXPECT_LE(last.rssKb, first.rssKb * 11 / 10) << "memory grew";
    }
    EXPECT_EQ(m_server->Recordings().size(), 1u);
}
