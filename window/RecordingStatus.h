// The status control's line about the copy on disk: recording since when, or why it
// stopped, with the file's path or the engine's words as tool tip.
#pragma once

#include "window/EngineNotifications.h"

#include <QString>
#include <chrono>
#include <string>

// "HH:MM:SS" of a time gone by; negative counts as none.
QString ElapsedClock(std::chrono::milliseconds elapsed);

class RecordingStatus {
public:
    using TimePoint = std::chrono::steady_clock::time_point;

    // Only the recording's events change it.
    void Apply(const EngineEvent& event, TimePoint at);
    QString Line(TimePoint now) const;  // empty when nothing is recorded
    QString ToolTip() const;            // the file while recording, the failure's detail after

private:
    enum class State { None, Recording, Failed };

    State m_state = State::None;
    TimePoint m_since;
    std::string m_path;
    std::string m_reason;
    std::string m_message;
};
