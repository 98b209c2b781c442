// What the status control says: the window's own going on and off air, and what the
// engine reports of the connection and the capture sources. Time is passed in, so
// that a clock and a countdown read the same whenever they are shown.
#pragma once

#include "window/EngineNotifications.h"
#include "window/RecordingStatus.h"

#include <QString>
#include <array>
#include <chrono>
#include <optional>
#include <string>

class StreamStatus {
public:
    using TimePoint = std::chrono::steady_clock::time_point;

    // How long "…已恢复" stays after a source came back.
    static constexpr std::chrono::seconds kSourceBackShownFor{5};

    // `secret` (the stream key) is masked wherever the engine's detail is shown.
    void GoneOnAir(std::string secret);
    void GoneOffAir();
    bool OnAir() const { return m_phase != Phase::OffAir; }
    // On air and not given up: there is a broadcast to lose.
    bool Broadcasting() const { return OnAir() && m_phase != Phase::Failed; }

    // Events of a stream that is off air change nothing.
    void Apply(const EngineEvent& event, TimePoint at);

    // The control's lines, at `now`.
    QString Text(TimePoint now) const;
    // The engine's own words for the failure and the lost sources shown.
    QString ToolTip() const;

private:
    enum class Phase { OffAir, Started, Connecting, Live, Retrying, Failed };

    struct Source {
        bool lost = false;
        std::optional<TimePoint> backAt;
        std::string name;
        std::string message;
        bool refused = false;  // the desktop's screen sharing was refused
    };

    void Fail(Phase phase, const EngineEvent& event);
    void Connected(TimePoint at);
    void Statistics(const EngineEvent& event, TimePoint at);
    QString StreamLines(TimePoint now) const;
    QString LiveLines(TimePoint now) const;
    QString CongestionLines() const;
    QString RetryLine(TimePoint now) const;
    QString SourceLines(TimePoint now) const;
    QString Masked(const std::string& text) const;

    Phase m_phase = Phase::OffAir;
    bool m_wasLive = false;
    std::string m_secret;
    int m_attempt = 0;
    std::string m_reason;
    std::string m_message;
    std::string m_refusedField;  // a parameter the engine refused, and its value
    int m_refusedValue = 0;
    std::optional<TimePoint> m_retryAt;  // while waiting to retry; empty while retrying
    TimePoint m_liveSince;               // since the first connection of this broadcast
    int m_reconnects = 0;
    std::optional<int> m_kbps;
    std::int64_t m_framesDropped = 0;
    bool m_congested = false;
    int m_videoKbps = 0;
    int m_videoKbpsSet = 0;
    std::int64_t m_backlogMs = 0;
    std::array<Source, 3> m_sources;  // by CaptureSource
    RecordingStatus m_recording;
};
