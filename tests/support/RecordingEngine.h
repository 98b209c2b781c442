// A publishing engine for tests: records every call the program makes, in order,
// and answers as configured.
#pragma once

#include "interface/EngineInterface.h"

#include <optional>
#include <sstream>
#include <string>
#include <vector>

struct RecordingEngineConfig {
    bool createFails = false;
    std::vector<std::u16string> video;
    std::vector<std::u16string> audio;
    bool nullNameArrays = false;  // a count without an array
    bool commandResult = true;
    std::string reply = R"({"data":{"player":[]}})";
    bool replyFollowsNext = false;                // each reply is next.reply as it is then: a changing list
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
    static ICastornPreview* previewReceiver;  // the last one registered

    static void Reset();
    static ICastorn* Create(ICastornNotify* notify);
    // Installs Create as the program's engine factory; restores the libraries afterwards.
    static void Install();
    static void Uninstall();

    bool ExecuteCommand(const char* command, char** reply) override;
    bool StartPublish() override;
    bool StopPublish() override { return Record("StopPublish"); }
    void Release() override;
    bool GetVideoDevices(const char16_t*** names, unsigned* count) override;
    bool GetAudioDevices(const char16_t*** names, unsigned* count) override;
    bool SelectVideoDevice(int index) override { return Record("SelectVideoDevice", index); }
    bool SelectAudioDevice(int index) override { return Record("SelectAudioDevice", index); }
    bool Reserved8() override { return Record("Reserved8"); }
    bool SetAudioParams(int sampleRate, int channels, int bitsPerSample, int bitrate, int volume, bool mute) override
    {
        return Record("SetAudioParams", sampleRate, channels, bitsPerSample, bitrate, volume, mute);
    }
    bool SetVideoParams(int width, int height, int fps, int bitrate, WindowHandle frame, int interval) override
    {
        return Record("SetVideoParams", width, height, fps, bitrate, frame ? "window" : "none", interval);
    }
    bool SetPublishAddress(const char* server, const char* app, const char* stream) override
    {
        return Record("SetPublishAddress", Quoted(server), Quoted(app), Quoted(stream));
    }
    bool Reserved12() override { return Record("Reserved12"); }
    bool SetAuxParams(int a, int b) override { return Record("SetAuxParams", a, b); }
    bool GetNameList(std::vector<std::string>& names) override;
    bool Reserved15() override { return Record("Reserved15"); }
    bool EnableBackgroundAudio(bool on) override { return Record("EnableBackgroundAudio", on); }
    bool SetBackgroundAudioOption(int option) override { return Record("SetBackgroundAudioOption", option); }
    bool Reserved18() override { return Record("Reserved18"); }
    bool Reserved19() override { return Record("Reserved19"); }
    bool SetUserId(const char* userId) override { return Record("SetUserId", Quoted(userId)); }

private:
    RecordingEngine(const RecordingEngineConfig& config, ICastornNotify* notify) : m_config(config), m_notify(notify) {}
    bool Devices(const std::vector<std::u16string>& source, const char16_t*** names, unsigned* count);
    // Records "Name a b c", the way the tests write the calls they expect.
    template <typename... Args>
    static bool Record(const char* name, const Args&... args)
    {
        std::ostringstream text;
        text << std::boolalpha << name;
        ((text << ' ' << args), ...);
        calls.push_back(text.str());
        return true;
    }
    static std::string Quoted(const char* text) { return std::string("[") + text + "]"; }

    RecordingEngineConfig m_config;
    ICastornNotify* m_notify;
    std::vector<const char16_t*> m_names;
};
