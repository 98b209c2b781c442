// The engine on air against real peers, driven through ICastorn in the program's
// order of calls: Xvfb, PulseAudio and nginx started for each test.
#pragma once

#include "NotificationLog.h"

#include "interface/EngineInterface.h"
#include "support/RecordingAnalysis.h"
#include "support/RtmpServer.h"
#include "support/SoundServer.h"
#include "support/VirtualDisplay.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

namespace castorn_test {

using namespace test_support;

struct OnAir {
    int video = -1;
    int audio = -1;
    int width = 320;
    int height = 240;
    int fps = 10;
    int videoBitrate = 160000;
    int audioBitrate = 32000;
    bool adaptiveBitrate = true;
    int bFrames = 0;
    int quality = 0;
    int volume = 80;
    bool mute = false;
    WindowHandle window = 0;
    ICastornPreview* preview = nullptr;  // registered when set, at the largest size below
    int previewWidth = 318;
    int previewHeight = 250;
    std::string key = "qex";
};

class Publishing : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Index of the first device whose name holds `part`, -1 when none does.
    int DeviceIndex(bool video, const std::u16string& part);
    int ScreenIndex();      // the test's X screen
    int MicrophoneIndex();  // the monitor of the sound server's mic_sink
    // To nginx unless another server ("rtmp://host:port") is given.
    bool GoOnAir(const OnAir& on, const std::string& server = {});
    // On air, and connected within five seconds.
    void GoLive(const OnAir& on = {}, const std::string& server = {});
    bool Command(const std::string& json);                // through ExecuteCommand
    bool SetPreviewReceiver(ICastornPreview* receiver, int width, int height);
    void GoOffAir(std::chrono::milliseconds after = {});  // after that much more on air
    MediaInfo OnlyRecording();
    MediaInfo OnlyRecording(const std::vector<std::string>& files);
    // What ffprobe found is what `on` asked for, and lasts as long as it was on air.
    void ExpectAsAsked(const MediaInfo& media, const OnAir& on);

    NotificationLog m_log;
    std::unique_ptr<VirtualDisplay> m_display;
    std::unique_ptr<SoundServer> m_sound;
    std::unique_ptr<RtmpServer> m_server;
    ICastorn* m_engine = nullptr;
    std::chrono::steady_clock::time_point m_wentOnAir;
    double m_onAirSeconds = 0;
};

}  // namespace castorn_test
