// The publishing engine and the capture-and-preview engine, as shared with their
// libraries. Slot order and argument types are binding: the libraries are built
// against this header. No virtual destructors: an engine is freed by its Release.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

using WindowHandle = std::uintptr_t;  // X11 window id of the video frame control

class ICastornNotify {
public:
    virtual bool OnEngineMessage(const char* message)
    {
        (void)message;
        return true;
    }
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
    virtual bool SetAudioParams(int sampleRate, int channels, int bitsPerSample, int bitrate, int volume,
                                bool mute) = 0;  // 9
    virtual bool SetVideoParams(int width, int height, int fps, int bitrate, WindowHandle frame,
                                int interval) = 0;  // 10
    virtual bool SetPublishAddress(const char* server, const char* app,
                                   const char* stream) = 0;         // 11
    virtual bool Reserved12() = 0;                                  // 12, never called
    virtual bool SetAuxParams(int a, int b) = 0;                    // 13
    virtual bool GetNameList(std::vector<std::string>& names) = 0;  // 14
    virtual bool Reserved15() = 0;                                  // 15, never called
    virtual bool EnableBackgroundAudio(bool on) = 0;                // 16
    virtual bool SetBackgroundAudioOption(int option) = 0;          // 17
    virtual bool Reserved18() = 0;                                  // 18, never called
    virtual bool Reserved19() = 0;                                  // 19, never called
    virtual bool SetUserId(const char* userId) = 0;                 // 20
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

// Notifications of the publishing engine: JSON text {"cmd": NAME, "params": {...}}
// through ICastornNotify::OnEngineMessage, one at a time, on any engine thread. The
// stream key never appears in one. Members not listed here may be added; a reader
// ignores what it does not know. Failures carry "reason", one of the kReason codes
// below, and "message", the engine's English detail.
namespace castorn_notification {

// {"percent": int 0..100}: the loudest channel's peak of the sound that is sent (the
// microphone mixed with background audio), -60 dBFS and below as 0, 0 dBFS as 100;
// about five a second while on air, none off air.
inline constexpr char kAudioPercent[] = "OnAudioPercent";
// {"address": string, "attempt": int >= 1}: a connection attempt begins; 1 for the
// first since going on air or since a connection last held.
inline constexpr char kConnecting[] = "OnConnecting";
// {"address": string}: the server took the publication; media flows from now on.
inline constexpr char kConnected[] = "OnConnected";
// {"liveMs": int64, "kbps": int, "framesSent": int64, "framesDropped": int64,
//  "bytesQueued": int64, "videoKbps": int, "videoKbpsSet": int, "backlogMs": int64,
//  "congested": bool}: once a second while connected. liveMs counts from the first
// media this connection delivered; kbps is what went onto the wire over the last
// seconds; frames are video frames of this connection, dropped ones never sent
// because the connection fell behind; bytesQueued waits to be sent (the socket's own
// buffer included); videoKbps is the video rate the encoder makes now, videoKbpsSet the
// one set; backlogMs how far the network lags behind the encoders; congested: the
// connection cannot carry the stream as set (the rate is lowered or pictures dropped).
inline constexpr char kStatistics[] = "OnStatistics";
// {"reason": code, "message": string}: a connection that was live ended; reason
// "stopped" when it was ended by going off air.
inline constexpr char kDisconnected[] = "OnDisconnected";
// {"attempt": int >= 1, "delayMs": int64, "reason": code, "message": string}: the
// next attempt starts after delayMs; attempt counts the retries (1 for the first);
// reason and message say why the last one ended.
inline constexpr char kReconnecting[] = "OnReconnecting";
// {"reason": code, "message": string, "final": bool}: publishing failed. With final
// false an OnReconnecting follows; with final true the engine has stopped trying
// and stays so until off air.
inline constexpr char kPublishError[] = "OnPublishError";
// {}: off air; everything the engine started for the publication is gone.
inline constexpr char kPublishStopped[] = "OnPublishStopped";
// {"source": kSourceVideo | kSourceAudio | kSourceBackground, "name": string, "message": string}:
// a capture source failed or could not be opened; the stream goes on with black or
// silence in its place, and the engine tries it again about once a second. Sent once
// per loss, also at going on air for a source that cannot be opened. "name" is the
// device as the device lists name it (for "background", the sound server's source).
inline constexpr char kSourceLost[] = "OnSourceLost";
// {"source": ..., "name": string}: a lost source is captured again, in the stream from now on.
inline constexpr char kSourceBack[] = "OnSourceBack";
// The "source" values.
inline constexpr char kSourceVideo[] = "video";
inline constexpr char kSourceAudio[] = "audio";
inline constexpr char kSourceBackground[] = "background";

// {"state": "off" | "waiting" | "capturing" | "unavailable", "player": string}: while
// on air, whenever background audio changes: switched off (microphone alone), switched
// on but no program of that name plays now, the player is in the stream, or no sound
// server took the capture sink (tried again every second). player is the selected
// player's name as the program gave it.
inline constexpr char kBackgroundAudio[] = "OnBackgroundAudio";

// The "reason" codes.
inline constexpr char kReasonRefused[] = "refused";        // nothing listens at the address
inline constexpr char kReasonUnresolved[] = "unresolved";  // the host name does not resolve
inline constexpr char kReasonTimeout[] = "timeout";        // the server did not answer in time
inline constexpr char kReasonRejected[] = "rejected";      // the server refused the publish (key, name taken, app)
inline constexpr char kReasonTls[] = "tls";                // the server's certificate does not check out
inline constexpr char kReasonLost[] = "lost";              // an established connection broke
inline constexpr char kReasonCapture[] = "capture";        // the capture could not run
inline constexpr char kReasonStopped[] = "stopped";        // ended by going off air
inline constexpr char kReasonOther[] = "other";            // none of the above

}  // namespace castorn_notification

// Size of the reply buffer a caller hands to ExecuteCommand, terminating NUL included.
inline constexpr std::size_t kCommandReplySize = 1024;

// What a text field of the program holds, in UTF-16 units: a 100-unit buffer and its NUL.
// The player name sent with "SelectPlayerName" is cut there, so the engine selects a
// player with a longer name by that start.
inline constexpr std::size_t kTextFieldUnits = 99;

// The port of a publish address that names none: RTMP's, and where RTMPS ingests listen.
inline constexpr int kDefaultRtmpPort = 1935;
inline constexpr int kDefaultRtmpsPort = 443;
