// A publishing engine for tests: records every call the program makes, in order,
// and answers as configured.
#pragma once

#include "interface/EngineInterface.h"

#include <optional>
#include <string>
#include <vector>

struct RecordingEngineConfig {
    bool createFails = false;
    std::vector<std::u16string> video;
    std::vector<std::u16string> audio;
    bool nullNameArrays = false;  // a count without an array
    bool commandResult = true;
    std::string reply = R"({"data":{"player":[]}})";
    std::optional<std::string> replyOfOwn;        // points the reply variable at the engine's own text
    std::vector<std::string> startNotifications;  // sent from inside StartPublish, on its thread
};

class RecordingEngine final : public ICastorn {
public:
    static RecordingEngineConfig next;      // what the next engine created holds
    static std::vector<std::string> calls;  // every engine's calls, in order
    static int created;
    static int released;
    static ICastornNotify* lastNotify;

    static void Reset();
    static ICastorn* Create(ICastornNotify* notify);
    // Installs Create as the program's engine factory; restores the libraries afterwards.
    static void Install();
    static void Uninstall();

    bool ExecuteCommand(const char* command, char** reply) override;
    bool StartPublish() override;
    bool StopPublish() override;
    void Release() override;
    bool GetVideoDevices(const char16_t*** names, unsigned* count) override;
    bool GetAudioDevices(const char16_t*** names, unsigned* count) override;
    bool SelectVideoDevice(int index) override;
    bool SelectAudioDevice(int index) override;
    bool Reserved8() override;
    bool SetAudioParams(int sampleRate, int channels, int bitsPerSample, int bitrate, int volume, bool mute) override;
    bool SetVideoParams(int width, int height, int fps, int bitrate, WindowHandle frame, int interval) override;
    bool SetPublishAddress(const char* server, const char* app, const char* stream) override;
    bool Reserved12() override;
    bool SetAuxParams(int a, int b) override;
    bool GetNameList(std::vector<std::string>& names) override;
    bool Reserved15() override;
    bool EnableBackgroundAudio(bool on) override;
    bool SetBackgroundAudioOption(int option) override;
    bool Reserved18() override;
    bool Reserved19() override;
    bool SetUserId(const char* userId) override;

private:
    RecordingEngine(const RecordingEngineConfig& config, ICastornNotify* notify) : m_config(config), m_notify(notify) {}
    bool Devices(const std::vector<std::u16string>& source, const char16_t*** names, unsigned* count);
    bool Record(std::string call);

    RecordingEngineConfig m_config;
    ICastornNotify* m_notify;
    std::vector<const char16_t*> m_names;
};
