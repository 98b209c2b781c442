// Notifications the publishing engine sends: {"cmd": name, "params": {...}}, read
// into what the window needs of them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

enum class EngineEventKind {
    AudioPercent,
    Connecting,
    Connected,
    Statistics,
    Disconnected,
    Reconnecting,
    PublishError,
    PublishStopped,
    SourceLost,
    SourceBack,
    RecordingStarted,
    RecordingStopped,
    RecordingFailed,
};

enum class CaptureSource { Video, Audio, Background };

// One notification's members; those its kind does not carry keep their defaults.
struct EngineEvent {
    EngineEventKind kind = EngineEventKind::PublishStopped;
    int percent = 0;
    int attempt = 0;
    std::int64_t delayMs = 0;
    // A reason code of the engine interface; for a failure "other" when absent, for a lost
    // source empty when absent.
    std::string reason = {};
    std::string message = {};
    bool final = false;
    std::string field = {};  // with reason "parameter": which value was refused, and the value
    int value = 0;
    std::int64_t liveMs = 0;
    int kbps = 0;
    std::int64_t framesSent = 0;
    std::int64_t framesDropped = 0;
    std::int64_t bytesQueued = 0;
    int videoKbps = 0;
    int videoKbpsSet = 0;
    std::int64_t backlogMs = 0;
    bool congested = false;
    CaptureSource source = CaptureSource::Audio;
    std::string name = {};
    std::string path = {};  // a recording's file

    bool operator==(const EngineEvent&) const = default;
};

// Parses and validates one notification. Safe on any thread and on any text: what
// is not a well-formed known notification, or lacks a member the window reads,
// gives nothing.
std::optional<EngineEvent> DispatchEngineMessage(std::string_view text);
