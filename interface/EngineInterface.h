// The publishing engine and the capture-and-preview engine, as shared with their
// libraries. Slot order and argument types are binding: the libraries are built
// against this header. No virtual destructors: an engine is freed by its Release.
#pragma once

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

using WindowHandle = std::uintptr_t;  // the native window of the video frame control (X11: its id)

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
// through ICastornNotify::OnEngineMessage, one at a time, on any engine thread, with no
// lock of the engine's held: a handler may call any ICastorn operation, Release included.
// None comes once Release has returned. The stream key never appears in one. Members
// not listed here may be added; a reader ignores what it does not know. Failures carry
// "reason", one of the kReason codes below, and "message", the engine's English detail.
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
// and stays so until off air. StartPublish refuses what cannot make a working stream
// this way, final, before anything is sent: reason kReasonParameter with "field" (a
// castorn_parameter name) and "value" (int, as the program passed it), or
// kReasonNoStream or kReasonAddress for the publish address.
inline constexpr char kPublishError[] = "OnPublishError";
// {}: off air; everything the engine started for the publication is gone.
inline constexpr char kPublishStopped[] = "OnPublishStopped";
// {"source": kSourceVideo | kSourceAudio | kSourceBackground, "name": string, "message": string}:
// a capture source failed or could not be opened; the stream goes on with black or
// silence in its place, and the engine tries it again about once a second. Sent once
// per loss, also at going on air for a source that cannot be opened, gives nothing or
// does not answer within a few seconds (it is opened beside its stand-in, which feeds the
// stream from the start until the source has media), and for one that gives nothing for
// three seconds on air without an error (a device or server that hangs). "name" is the
// device as the device lists name it (for "background", the sound server's source).
// "reason" kReasonDenied when the desktop's screen sharing was refused: that source is
// not tried again until the next going on air.
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

// The copy of the stream on disk (see the command "SetRecord" below). "path" is the
// file's full name. {"path": string}: a recording began; the file grows in fragments
// of half a second and reads up to its last whole one if the program dies.
inline constexpr char kRecordingStarted[] = "OnRecordingStarted";
// {"path": string}: a recording ended normally and is complete, still in fragments. Its
// end is written after going off air has returned, and this and what follows are not
// sent once the engine is released (the file is still ended before the process exits).
inline constexpr char kRecordingStopped[] = "OnRecordingStopped";
// {"path": string, "ordinary": bool, "message": string}: after OnRecordingStopped, the
// file has been made an ordinary MP4 (index first, one block of media data) that any
// player seeks in at once, or, with "ordinary" false, it stays in fragments as it was
// recorded and "message" says why.
inline constexpr char kRecordingFinalized[] = "OnRecordingFinalized";
// {"reason": kRecordingDiskFull | kRecordingCannotWrite, "path": string, "message": string}:
// no recording runs any more (or none could begin; "path" is then the file or the
// folder that failed). What was written stays readable; the stream goes on. The next
// "SetRecord" with "record" true, or the next going on air, tries again.
inline constexpr char kRecordingFailed[] = "OnRecordingFailed";
inline constexpr char kRecordingDiskFull[] = "diskFull";
inline constexpr char kRecordingCannotWrite[] = "cannotWrite";

// The "reason" codes.
inline constexpr char kReasonRefused[] = "refused";        // nothing listens at the address
inline constexpr char kReasonUnresolved[] = "unresolved";  // the host name does not resolve
inline constexpr char kReasonTimeout[] = "timeout";        // the server did not answer in time
inline constexpr char kReasonRejected[] = "rejected";      // the server refused the publish (key, name taken, app)
inline constexpr char kReasonTls[] = "tls";                // the server's certificate does not check out
inline constexpr char kReasonLost[] = "lost";              // an established connection broke
inline constexpr char kReasonCapture[] = "capture";        // the capture could not run
inline constexpr char kReasonParameter[] = "parameter";    // a stream parameter the encoders cannot take
inline constexpr char kReasonNoStream[] = "nostream";      // the publish address names no stream
inline constexpr char kReasonAddress[] = "address";        // the publish address is not scheme://host[:port]/app/stream
inline constexpr char kReasonStopped[] = "stopped";        // ended by going off air
inline constexpr char kReasonDenied[] = "denied";          // the desktop's screen sharing refused or cancelled
inline constexpr char kReasonOther[] = "other";            // none of the above

}  // namespace castorn_notification

// ExecuteCommand "SetRecord", params {"record": bool, "folder": string}: record what
// is streamed into a new file in the folder (the home folder when empty) from going on
// air to going off air; sent while on air, a recording begins or ends at once. Reply
// {"result":"ok"}; an engine that does not know it refuses it as unknown, and records nothing.
inline constexpr char kSetRecordCommand[] = "SetRecord";

// The local preview: pictures of what is streamed, handed to the program, which paints
// them itself. ExecuteCommand "SetPreviewReceiver", params {"receiver": uint64, the
// address of an ICastornPreview of this process, 0 for none; "width", "height": int >= 2,
// the largest picture, in pixels, the program paints}. Sent before StartPublish: each
// going on air gives pictures of the stream's aspect that fit that size, even-sized.
// Reply {"result":"ok"}; an engine that does not know it refuses it as unknown and hands
// over no pictures.
inline constexpr char kSetPreviewReceiverCommand[] = "SetPreviewReceiver";

class ICastornPreview {
public:
    // One picture: BGRx (4 bytes a pixel, blue first, the fourth unspecified), rows
    // `stride` bytes apart; `frame` is the handle SetVideoParams had at StartPublish.
    // Called on an engine streaming thread, one call at a time, about 15 a second at most
    // while on air; the pixels are lent for the call only. No call begins once
    // StopPublish, Release or a "SetPreviewReceiver" has returned: these wait for a call
    // under way, so the receiver neither calls the engine nor waits for a thread that may.
    virtual void OnPreviewFrame(WindowHandle frame, const std::uint8_t* pixels, int width, int height, int stride) = 0;
};

// Size of the reply buffer a caller hands to ExecuteCommand, terminating NUL included.
inline constexpr std::size_t kCommandReplySize = 1024;

// What a text field of the program holds, in UTF-16 units: a 100-unit buffer and its NUL.
// The player name sent with "SelectPlayerName" is cut there, so the engine selects a
// player with a longer name by that start.
inline constexpr std::size_t kTextFieldUnits = 99;

// The port of a publish address that names none: RTMP's, and where RTMPS ingests listen.
inline constexpr int kDefaultRtmpPort = 1935;
inline constexpr int kDefaultRtmpsPort = 443;

// The stream parameters StartPublish takes, by the names an OnPublishError with reason
// kReasonParameter gives in "field". Anything else is refused: what the encoders
// (x264, AAC) cannot take, or what makes no picture or sound. The program's settings
// dialog hints at the same values.
namespace castorn_parameter {

inline constexpr char kWidth[] = "width";                // pixels; odd ones are taken one less
inline constexpr char kHeight[] = "height";              // pixels; likewise
inline constexpr char kFps[] = "fps";                    // frames a second
inline constexpr char kVideoBitrate[] = "videoBitrate";  // bit/s
inline constexpr char kKeyInterval[] = "keyInterval";    // frames from one key frame to the next
inline constexpr char kSampleRate[] = "sampleRate";      // Hz
inline constexpr char kChannels[] = "channels";
inline constexpr char kAudioBitrate[] = "audioBitrate";  // bit/s

struct Range {
    const char* field;
    int least;
    int most;
};

inline constexpr Range kRanges[] = {
    {kWidth, 16, 4096},      {kHeight, 16, 2304},        {kFps, 1, 120},    {kVideoBitrate, 1000, 100'000'000},
    {kKeyInterval, 1, 1000}, {kSampleRate, 8000, 96000}, {kChannels, 1, 2}, {kAudioBitrate, 8000, 320'000},
};

// The sample rates AAC knows.
inline constexpr int kSampleRates[] = {8000,  11025, 12000, 16000, 22050, 24000,
                                       32000, 44100, 48000, 64000, 88200, 96000};

inline const Range* RangeOf(std::string_view field)
{
    const auto found = std::find_if(std::begin(kRanges), std::end(kRanges),
                                    [field](const Range& range) { return field == range.field; });
    return found == std::end(kRanges) ? nullptr : found;
}

inline bool Accepted(std::string_view field, int value)
{
    if (field == kSampleRate)
        return std::find(std::begin(kSampleRates), std::end(kSampleRates), value) != std::end(kSampleRates);
    const Range* range = RangeOf(field);
    return !range || (value >= range->least && value <= range->most);
}

}  // namespace castorn_parameter

// The publish address as the program hands it to SetPublishAddress, split from one
// typed line by position: "scheme://host[:port]" (":1935" added to a server text with
// no colon at all), the application with "?key" after it, and the stream name. An
// address typed without a stream name ("rtmp://host/app") comes as the stream name
// "host/app"; it is refused, never published under that name. An address typed
// without a scheme is rtmp. The program's settings dialog checks with the same rule.
namespace castorn_address {

struct Parts {
    bool secure = false;          // rtmps://
    std::string host;             // without brackets for IPv6
    int port = kDefaultRtmpPort;  // kDefaultRtmpsPort for rtmps:// when none is given
    std::string application;      // without the key
    std::string key;              // after the "?", empty when none
    std::string stream;
};

// Why an address cannot be published to: a castorn_notification reason code and the detail.
struct Refusal {
    const char* reason;
    std::string detail;
};

namespace detail {

inline std::string Trimmed(std::string_view text)
{
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos) return {};
    return std::string(text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1));
}

inline bool Fail(const char* reason, std::string detail, Refusal& why)
{
    why = {reason, std::move(detail)};
    return false;
}

inline bool FailShape(std::string detail, Refusal& why)
{
    return Fail(castorn_notification::kReasonAddress, std::move(detail), why);
}

// Takes the scheme off `rest`.
inline bool TakeScheme(std::string& rest, bool& secure, Refusal& why)
{
    const auto mark = rest.find("//");
    if (mark == std::string::npos) return true;
    std::string scheme = rest.substr(0, mark);
    std::transform(scheme.begin(), scheme.end(), scheme.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (!scheme.empty() && scheme.back() == ':') scheme.pop_back();
    rest.erase(0, mark + 2);
    if (scheme.empty() || scheme == "rtmp") return true;
    if (scheme == "rtmps") return secure = true;
    return FailShape("unknown scheme \"" + scheme + "\": only rtmp:// and rtmps:// are published to", why);
}

inline bool TakePort(const std::string& digits, int& port, Refusal& why)
{
    const bool numeric = !digits.empty() && digits.size() <= 5 &&
                         std::all_of(digits.begin(), digits.end(), [](unsigned char c) { return std::isdigit(c); });
    port = numeric ? std::stoi(digits) : 0;
    return (port >= 1 && port <= 65535) || FailShape("bad port \"" + digits + "\" in the server address", why);
}

inline bool ValidHost(const std::string& host)
{
    return !host.empty() && std::none_of(host.begin(), host.end(), [](unsigned char c) {
        return c <= ' ' || c == 0x7f ||
               std::string_view("/?#@[]\\").find(static_cast<char>(c)) != std::string_view::npos;
    });
}

// [v6host] or [v6host]:port
inline bool TakeBracketedHost(const std::string& authority, Parts& out, Refusal& why)
{
    const auto close = authority.find(']');
    const bool hasPort = close != std::string::npos && close + 1 < authority.size();
    const std::string host = close == std::string::npos ? std::string() : authority.substr(1, close - 1);
    if (host.empty() || host.find_first_not_of("0123456789abcdefABCDEF:.") != std::string::npos ||
        (hasPort && authority[close + 1] != ':'))
        return FailShape("bad IPv6 address in the server address", why);
    out.host = host;
    return !hasPort || TakePort(authority.substr(close + 2), out.port, why);
}

// host or host:port
inline bool TakeHostPort(const std::string& authority, Parts& out, Refusal& why)
{
    if (!authority.empty() && authority.front() == '[') return TakeBracketedHost(authority, out, why);
    const auto colon = authority.rfind(':');
    const std::string host = authority.substr(0, colon);
    if (!ValidHost(host))
        return FailShape(
            host.empty() ? "no host in the server address" : "bad host \"" + host + "\" in the server address", why);
    out.host = host;
    return colon == std::string::npos || TakePort(authority.substr(colon + 1), out.port, why);
}

inline bool TakeServer(std::string_view server, Parts& out, Refusal& why)
{
    std::string rest = Trimmed(server);
    if (!TakeScheme(rest, out.secure, why)) return false;
    out.port = out.secure ? kDefaultRtmpsPort : kDefaultRtmpPort;
    const auto slash = rest.find('/');
    if (slash != std::string::npos && slash + 1 < rest.size())
        return FailShape("the server address holds a path; the application belongs in its own field", why);
    return TakeHostPort(rest.substr(0, slash), out, why);
}

// The split puts the whole rest after the scheme into the stream name when the
// address had no second "/": "host[:port]/app", or "host" alone as application too.
inline bool SplitLeftNoStream(std::string_view server, std::string_view application, std::string_view stream)
{
    const auto mark = server.find("//");
    const std::string_view host =
        server.substr(mark == std::string_view::npos ? std::min<std::size_t>(1, server.size()) : mark + 2);
    constexpr std::string_view kAddedPort = ":1935";
    const bool added = host.size() > kAddedPort.size() && host.substr(host.size() - kAddedPort.size()) == kAddedPort;
    for (const std::string_view rest : {host, added ? host.substr(0, host.size() - kAddedPort.size()) : host}) {
        if (stream == rest && application == rest) return true;
        if (stream.size() == rest.size() + 1 + application.size() && stream.substr(0, rest.size()) == rest &&
            stream[rest.size()] == '/' && stream.substr(rest.size() + 1) == application)
            return true;
    }
    return false;
}

}  // namespace detail

// The parts to publish to, or false with the reason in `why`.
inline bool Parse(std::string_view server, std::string_view appWithKey, std::string_view stream, Parts& out,
                  Refusal& why)
{
    using namespace detail;
    const auto mark = appWithKey.find('?');
    out.application = Trimmed(appWithKey.substr(0, mark));
    out.key = mark == std::string_view::npos ? std::string() : std::string(appWithKey.substr(mark + 1));
    out.stream = Trimmed(stream);
    if (server.empty()) return FailShape("no host in the server address", why);
    if (out.stream.empty() || SplitLeftNoStream(Trimmed(server), out.application, out.stream))
        return Fail(castorn_notification::kReasonNoStream, "no stream name in the publish address", why);
    if (!TakeServer(server, out, why)) return false;
    return !out.application.empty() || FailShape("no application in the publish address", why);
}

}  // namespace castorn_address
