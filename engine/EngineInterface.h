// The publishing engine and the capture-and-preview engine, as shared with their
// libraries. Slot order and argument types are binding: the libraries are built
// against this header. No virtual destructors: an engine is freed by its Release.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

using WindowHandle = std::uintptr_t;  // X11 window id of the video frame control

class ICastornNotify {
public:
    virtual bool OnEngineMessage(const char* message) { (void)message; return true; }
    virtual bool OnSecondCallback(std::int32_t, std::int32_t) = 0;
    virtual bool OnThirdCallback(std::int32_t) = 0;
    virtual bool OnFourthCallback(std::int32_t) = 0;
};

class ICastorn {
public:
    virtual bool ExecuteCommand(const char* command, char** reply) = 0;          // 0
    virtual bool StartPublish() = 0;                                             // 1
    virtual bool StopPublish() = 0;                                              // 2
    virtual void Release() = 0;                                                  // 3
    virtual bool GetVideoDevices(const char16_t*** names, unsigned* count) = 0;  // 4
    virtual bool GetAudioDevices(const char16_t*** names, unsigned* count) = 0;  // 5
    virtual bool SelectVideoDevice(int index) = 0;                               // 6
    virtual bool SelectAudioDevice(int index) = 0;                               // 7
    virtual bool Reserved8() = 0;                                                // 8, never called
    virtual bool SetAudioParams(int sampleRate, int channels, int bitsPerSample,
                                int bitrate, int volume, bool mute) = 0;         // 9
    virtual bool SetVideoParams(int width, int height, int fps, int bitrate,
                                WindowHandle frame, int interval) = 0;           // 10
    virtual bool SetPublishAddress(const char* server, const char* app,
                                   const char* stream) = 0;                      // 11
    virtual bool Reserved12() = 0;                                               // 12, never called
    virtual bool SetAuxParams(int a, int b) = 0;                                 // 13
    virtual bool GetNameList(std::vector<std::string>& names) = 0;               // 14
    virtual bool Reserved15() = 0;                                               // 15, never called
    virtual bool EnableBackgroundAudio(bool on) = 0;                             // 16
    virtual bool SetBackgroundAudioOption(int option) = 0;                       // 17
    virtual bool Reserved18() = 0;                                               // 18, never called
    virtual bool Reserved19() = 0;                                               // 19, never called
    virtual bool SetUserId(const char* userId) = 0;                              // 20
};

extern "C" ICastorn* CreateCastorn(ICastornNotify* notify);

class IVistrelNotify {
public:
    virtual bool OnPreviewCallback(std::int32_t, std::int32_t, std::int32_t) = 0;
};

class IVistrel {
public:
    virtual void Release() = 0;
};

IVistrel* CreateVistrel(IVistrelNotify* notify);  // C++ linkage: looked up by its decorated name

// Size of the reply buffer a caller hands to ExecuteCommand, terminating NUL included.
inline constexpr std::size_t kCommandReplySize = 1024;
