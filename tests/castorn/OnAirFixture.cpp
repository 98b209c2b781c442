#include "OnAirFixture.h"

#include "support/Command.h"
#include "support/WaitUntil.h"

#include <thread>

using namespace std::chrono_literals;

namespace castorn_test {

namespace {

bool ToolsPresent()
{
    return Installed("nginx") && Installed("pulseaudio") && Installed("Xvfb") && Installed("ffprobe") &&
           Installed("gst-launch-1.0");
}

}  // namespace

void Publishing::SetUp()
{
    if (!ToolsPresent()) GTEST_SKIP() << "needs nginx, pulseaudio, Xvfb, ffprobe and gst-launch-1.0";
    m_display = std::make_unique<VirtualDisplay>();
    m_sound = std::make_unique<SoundServer>(SoundServer::Microphone::SinkMonitor);
    m_server = std::make_unique<RtmpServer>();
    m_engine = CreateCastorn(&m_log);
    ASSERT_NE(m_engine, nullptr);
}

void Publishing::TearDown()
{
    if (m_engine) m_engine->Release();
}

int Publishing::DeviceIndex(bool video, const std::u16string& part)
{
    // A device that has just come is listed once the engine's watch has seen it.
    int index = -1;
    WaitUntil(
        [&] {
            const char16_t** names = nullptr;
            unsigned count = 0;
            video ? m_engine->GetVideoDevices(&names, &count) : m_engine->GetAudioDevices(&names, &count);
            for (unsigned i = 0; i < count && index < 0; ++i)
                if (std::u16string(names[i]).find(part) != std::u16string::npos) index = static_cast<int>(i);
            return index >= 0;
        },
        5s);
    return index;
}

int Publishing::ScreenIndex()
{
    const std::string& name = m_display->Name();
    return DeviceIndex(true, u"Screen " + std::u16string(name.begin(), name.end()));
}

int Publishing::MicrophoneIndex()
{
    return DeviceIndex(false, u"FakeMicSink");
}

bool Publishing::Command(const std::string& json)
{
    char buffer[kCommandReplySize];
    char* reply = buffer;
    return m_engine->ExecuteCommand(json.c_str(), &reply);
}

bool Publishing::SetPreviewReceiver(ICastornPreview* receiver, int width, int height)
{
    return Command(std::string(R"({"cmd":"SetPreviewReceiver","params":{"receiver":)") +
                   std::to_string(reinterpret_cast<std::uintptr_t>(receiver)) + R"(,"width":)" + std::to_string(width) +
                   R"(,"height":)" + std::to_string(height) + "}}");
}

bool Publishing::GoOnAir(const OnAir& on, const std::string& server)
{
    m_engine->SelectVideoDevice(on.video);
    m_engine->SelectAudioDevice(on.audio);
    Command(R"({"cmd":"SetBframeCount","params":{"BframeCount":)" + std::to_string(on.bFrames) + "}}");
    Command(R"({"cmd":"SetVBRQuality","params":{"Quality":)" + std::to_string(on.quality) + "}}");
    m_engine->SetAudioParams(44100, 2, 16, on.audioBitrate, on.volume, on.mute);
    m_engine->SetVideoParams(on.width, on.height, on.fps, on.videoBitrate, on.window, 30);
    m_engine->SetPublishAddress(server.empty() ? m_server->Address().c_str() : server.c_str(),
                                ("live?" + on.key).c_str(), "s");
    m_engine->SetAuxParams(80, 0);
    m_engine->SetUserId("10000");
    Command(std::string(R"({"cmd":"SetAdaptiveBitrate","params":{"Enabled":)") +
            (on.adaptiveBitrate ? "true" : "false") + "}}");
    if (on.preview && !SetPreviewReceiver(on.preview, on.previewWidth, on.previewHeight)) return false;
    m_wentOnAir = std::chrono::steady_clock::now();
    return m_engine->StartPublish();
}

void Publishing::GoLive(const OnAir& on, const std::string& server)
{
    const int connectionsBefore = m_log.Count("OnConnected");
    ASSERT_TRUE(GoOnAir(on, server));
    ASSERT_FALSE(m_log.WaitFor("OnConnected", 5s, connectionsBefore).isNull());
}

void Publishing::GoOffAir(std::chrono::milliseconds after)
{
    std::this_thread::sleep_for(after);
    const int stopsBefore = m_log.Count("OnPublishStopped");
    m_engine->StopPublish();
    m_onAirSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - m_wentOnAir).count();
    ASSERT_FALSE(m_log.WaitFor("OnPublishStopped", 5s, stopsBefore).isNull());
}

MediaInfo Publishing::OnlyRecording()
{
    return OnlyRecording(m_server->Recordings());
}

MediaInfo Publishing::OnlyRecording(const std::vector<std::string>& files)
{
    EXPECT_EQ(files.size(), 1u);
    return files.empty() ? MediaInfo{} : Probe(files.back());
}

void Publishing::ExpectAsAsked(const MediaInfo& media, const OnAir& on)
{
    EXPECT_EQ(media.videoCodec, "h264");
    EXPECT_EQ(media.width, on.width);
    EXPECT_EQ(media.height, on.height);
    EXPECT_NEAR(media.fps, on.fps, on.fps / 10.0 + 0.5);
    EXPECT_EQ(media.audioCodec, "aac");
    EXPECT_EQ(media.sampleRate, 44100);
    EXPECT_EQ(media.channels, 2);
    EXPECT_NEAR(media.duration, m_onAirSeconds, m_onAirSeconds / 10);
}

}  // namespace castorn_test
