// The route that brings one player's sound to the pipeline: a null sink of ours,
// whose monitor the pipeline records; the player's streams moved onto it while
// background audio is on (and back when it goes off); and a loopback from that
// monitor to the output the player used (the default output while there is
// none), so that the operator keeps hearing it.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "castorn/background/CaptureSinkName.h"
#include "castorn/background/CaptureState.h"
#include "castorn/background/PulseSession.h"

namespace castorn {

class PlayerRoute {
public:
    PlayerRoute(PulseSession& session, const CaptureSinkOwner& owner);

    const std::string& SourceName() const { return m_sourceName; }  // the same for the route's life
    bool IsOpen() const { return m_sinkModule.has_value(); }

    // Creates the capture sink, first removing what dead processes (or an earlier
    // connection of this one) left behind.
    bool Open();
    // Brings the server in line with the wish; called again on every change there.
    CaptureState Sync(const std::string& player, bool enabled);
    // Gives every stream back to its output and removes all we loaded.
    void Close();
    // The server went away, and everything of ours with it.
    void Forget();

private:
    struct Captured {
        SinkInput input;  // as found, so input.sink is the output it came from
        bool seenHere;    // some servers (PipeWire) report a move only a while after confirming it
        std::chrono::steady_clock::time_point movedAt;
    };

    void RemoveLeftovers();
    void DropLost(const std::vector<SinkInput>& inputs);
    void ReturnUnselected(const std::vector<Sink>& sinks, const std::string& player, bool enabled);
    void TakeSelected(const std::vector<SinkInput>& inputs, const std::string& player);
    bool Holds(std::uint32_t input) const;
    void UpdateLoopback(const std::vector<Sink>& sinks);
    void UnloadLoopback();
    void AwaitSinkEmpty();

    PulseSession& m_session;
    CaptureSinkOwner m_owner;
    const std::string m_sinkName;
    const std::string m_sourceName;
    std::optional<std::uint32_t> m_sinkModule;
    std::uint32_t m_sink = 0;
    std::optional<std::uint32_t> m_loopbackModule;
    std::string m_loopbackTarget;
    std::vector<Captured> m_captured;
    std::set<std::uint32_t> m_released;  // moved away by someone else: not taken again
};

}  // namespace castorn
