// A test of the engine on air against real peers, started for each test: Xvfb, a
// PulseAudio server with null outputs, nginx recording what it gets. Driven
// through ICastorn in the program's order of calls.
#pragma once

#include "NotificationLog.h"
#include "TestPeers.h"

#include "engine/EngineInterface.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>

namespace castorn_test {

struct OnAir {
    int video = -1;
    int audio = -1;
    int width = 320;
    int height = 240;
    int fps = 10;
    int videoBitrate = 160000;
    int bFrames = 0;
    int quality = 0;
    int volume = 80;
    bool mute = false;
    WindowHandle window = 0;
    std::string key = "qex";
};

bool ToolsPresent();

class Publishing : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!ToolsPresent()) GTEST_SKIP() << "needs nginx, pulseaudio, Xvfb, ffprobe and gst-launch-1.0";
        m_display = std::make_unique<VirtualDisplay>();
        m_sound = std::make_unique<SoundServer>();
        m_server = std::make_unique<RtmpServer>();
        m_engine = CreateCastorn(&m_log);
        ASSERT_NE(m_engine, nullptr);
    }

    void TearDown() override
    {
        if (m_engine) m_engine->Release();
    }

    // Index of the first device whose name holds `part`, -1 when none does.
    int DeviceIndex(bool video, const std::u16string& part)
    {
        const char16_t** names = nullptr;
        unsigned count = 0;
        video ? m_engine->GetVideoDevices(&names, &count) : m_engine->GetAudioDevices(&names, &count);
        for (unsigned i = 0; i < count; ++i)
            if (std::u16string(names[i]).find(part) != std::u16string::npos) return static_cast<int>(i);
        return -1;
    }

    bool GoOnAir(const OnAir& on, const std::string& server = {})
    {
        char buffer[kCommandReplySize];
        char* reply = buffer;
        m_engine->SelectVideoDevice(on.video);
        m_engine->SelectAudioDevice(on.audio);
        m_engine->ExecuteCommand(("{\"cmd\":\"SetBframeCount\",\"params\":{\"BframeCount\":" +
                                  std::to_string(on.bFrames) + "}}").c_str(), &reply);
        m_engine->ExecuteCommand(("{\"cmd\":\"SetVBRQuality\",\"params\":{\"Quality\":" +
                                  std::to_string(on.quality) + "}}").c_str(), &reply);
        m_engine->SetAudioParams(44100, 2, 16, 32000, on.volume, on.mute);
        m_engine->SetVideoParams(on.width, on.height, on.fps, on.videoBitrate, on.window, 30);
        m_engine->SetPublishAddress(server.empty() ? m_server->Address().c_str() : server.c_str(),
                                    ("live?" + on.key).c_str(), "s");
        m_engine->SetAuxParams(80, 0);
        m_engine->SetUserId("10000");
        m_wentOnAir = std::chrono::steady_clock::now();
        return m_engine->StartPublish();
    }

    void GoOffAir()
    {
        const int stopsBefore = m_log.Count("OnPublishStopped");
        m_engine->StopPublish();
        m_onAirSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - m_wentOnAir).count();
        ASSERT_FALSE(m_log.WaitFor("OnPublishStopped", std::chrono::seconds(5), stopsBefore).isNull());
    }

    MediaInfo OnlyRecording()
    {
        const auto files = m_server->Recordings();
        EXPECT_EQ(files.size(), 1u);
        return files.empty() ? MediaInfo{} : Probe(files.back());
    }

    NotificationLog m_log;
    std::unique_ptr<VirtualDisplay> m_display;
    std::unique_ptr<SoundServer> m_sound;
    std::unique_ptr<RtmpServer> m_server;
    ICastorn* m_engine = nullptr;
    std::chrono::steady_clock::time_point m_wentOnAir;
    double m_onAirSeconds = 0;
};


}  // namespace castorn_test
