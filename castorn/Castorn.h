// The publishing engine object behind ICastorn. Every call returns at once:
// the caller's thread keeps the settings and the device lists, everything that
// waits on devices, the sound server or the network runs on the engine's own
// threads (CONTRIBUTING.md, "The engine's threads"). Release keeps the caller a
// moment at most; what is not over by then ends on those threads.
#pragma once

#include "castorn/CommandProcessor.h"
#include "castorn/DeviceCatalog.h"
#include "castorn/Notifier.h"
#include "castorn/PreviewOutlet.h"
#include "castorn/StreamSettings.h"
#include "interface/EngineInterface.h"

#include <memory>
#include <string>

namespace castorn {

class BackgroundAudio;
class EngineLoop;
class Publisher;

class Castorn final : public ICastorn {
public:
    explicit Castorn(ICastornNotify* notify);

    bool ExecuteCommand(const char* command, char** reply) override;
    bool StartPublish() override;
    bool StopPublish() override;
    void Release() override;
    bool GetVideoDevices(const char16_t*** names, unsigned* count) override;
    bool GetAudioDevices(const char16_t*** names, unsigned* count) override;
    bool SelectVideoDevice(int index) override;
    bool SelectAudioDevice(int index) override;
    bool Reserved8() override { return false; }
    bool SetAudioParams(int sampleRate, int channels, int bitsPerSample, int bitrate, int volume, bool mute) override;
    bool SetVideoParams(int width, int height, int fps, int bitrate, WindowHandle frame, int interval) override;
    bool SetPublishAddress(const char* server, const char* app, const char* stream) override;
    bool Reserved12() override { return false; }
    bool SetAuxParams(int a, int b) override;
    bool GetNameList(std::vector<std::string>& names) override;
    bool Reserved15() override { return false; }
    bool EnableBackgroundAudio(bool on) override;
    bool SetBackgroundAudioOption(int option) override;
    bool Reserved18() override { return false; }
    bool Reserved19() override { return false; }
    bool SetUserId(const char* userId) override;

private:
    ~Castorn();      // through Release only
    void Destroy();  // once the loop has no more to do

    // Shared with the background audio's thread, which may outlive this object when the
    // sound server hangs at Release.
    std::shared_ptr<Notifier> m_sharedNotifier;
    Notifier& m_notifier;
    // Shared with the capture's preview branch, which may outlive a publication's stop.
    std::shared_ptr<PreviewOutlet> m_preview = std::make_shared<PreviewOutlet>();
    DeviceCatalog m_devices;
    CommandProcessor m_commands;
    VideoSettings m_video;
    AudioSettings m_audio;
    std::string m_server;
    std::string m_application;
    std::string m_stream;
    bool m_onAir = false;

    // Used on the loop thread only, from construction to Release.
    std::unique_ptr<BackgroundAudio> m_background;
    std::unique_ptr<Publisher> m_publisher;
    std::unique_ptr<EngineLoop> m_loop;
};

}  // namespace castorn
