#include "castorn/background/PlayerRoute.h"

#include <algorithm>
#include <thread>

#include "castorn/background/PlayerName.h"

namespace castorn {

namespace {

// Short enough to sound live to the operator, long enough not to crackle.
constexpr const char* kLoopbackLatencyMs = "50";
// How long a stream we moved may still be reported on its old output.
constexpr std::chrono::seconds kMoveGrace{2};
constexpr std::uint32_t kUnknownSink = UINT32_MAX;
constexpr std::chrono::milliseconds kMovePoll{20};

// A module argument's value, quoted as the sound server reads it.
std::string Quoted(const std::string& value)
{
    std::string quoted = "\"";
    for (const char c : value) {
        if (c == '"' || c == '\\') quoted += '\\';
        quoted += c;
    }
    return quoted + '"';
}

template <class Item>
const Item* FindIndex(const std::vector<Item>& items, std::uint32_t index)
{
    const auto it = std::find_if(items.begin(), items.end(), [index](const Item& item) { return item.index == index; });
    return it == items.end() ? nullptr : &*it;
}

const Sink* FindName(const std::vector<Sink>& sinks, const std::string& name)
{
    const auto it = std::find_if(sinks.begin(), sinks.end(), [&name](const Sink& sink) { return sink.name == name; });
    return it == sinks.end() ? nullptr : &*it;
}

std::optional<std::uint32_t> SinkNamed(PulseSession& session, const std::string& name)
{
    const auto sinks = session.Sinks();
    const Sink* sink = sinks ? FindName(*sinks, name) : nullptr;
    return sink ? std::optional(sink->index) : std::nullopt;
}

}  // namespace

PlayerRoute::PlayerRoute(PulseSession& session, const CaptureSinkOwner& owner)
    : m_session(session), m_owner(owner), m_sinkName(CaptureSinkName(owner)), m_sourceName(m_sinkName + ".monitor")
{
    m_session.SetOwnerMark(m_sinkName);
}

bool PlayerRoute::Open()
{
    RemoveLeftovers();
    const auto module =
        m_session.LoadModule("module-null-sink", "sink_name=" + Quoted(m_sinkName) +
                                                     " sink_properties=device.description=Background_audio_capture");
    if (!module) return false;
    const auto sink = SinkNamed(m_session, m_sinkName);
    if (!sink) {
        m_session.UnloadModule(*module);
        return false;
    }
    m_sinkModule = module;
    m_sink = *sink;
    m_session.HoldSinkResponsive(m_sinkName);  // without it only late sound, never none
    return true;
}

// Ours from before, and those whose owner is no longer connected: a process id says
// nothing of a process of another user or container sharing the server.
void PlayerRoute::RemoveLeftovers()
{
    const auto modules = m_session.Modules();
    const auto owners = m_session.OwnerMarks();
    if (!modules || !owners) return;
    for (const LoadedModule& module : *modules) {
        const auto owner = CaptureSinkOwnerIn(module.argument);
        if (!owner) continue;
        const std::string sink = CaptureSinkName(*owner);
        const bool owned = *owner != m_owner && std::find(owners->begin(), owners->end(), sink) != owners->end();
        if (!owned) m_session.UnloadModule(module.index);
    }
}

CaptureState PlayerRoute::Sync(const std::string& player, bool enabled)
{
    const auto inputs = m_session.SinkInputs();
    const auto sinks = m_session.Sinks();
    if (!inputs || !sinks) return CaptureState::Unavailable;
    if (!FindIndex(*sinks, m_sink)) {  // someone removed our sink: start afresh
        Forget();
        return CaptureState::Unavailable;
    }
    DropLost(*inputs);
    ReturnUnselected(*sinks, player, enabled);
    if (enabled) TakeSelected(*inputs, player);
    UpdateLoopback(*sinks);
    if (!enabled) return CaptureState::Off;
    return m_captured.empty() ? CaptureState::Waiting : CaptureState::Capturing;
}

void PlayerRoute::DropLost(const std::vector<SinkInput>& inputs)
{
    const auto now = std::chrono::steady_clock::now();
    std::erase_if(m_captured, [&](Captured& captured) {
        const SinkInput* found = FindIndex(inputs, captured.input.index);
        if (!found) return true;  // the player closed it
        if (found->sink == m_sink) captured.seenHere = true;
        if (found->sink == m_sink || (!captured.seenHere && now - captured.movedAt < kMoveGrace)) return false;
        m_released.insert(captured.input.index);  // moved elsewhere by someone else: theirs to decide
        return true;
    });
    std::erase_if(m_released, [&](std::uint32_t index) { return !FindIndex(inputs, index); });
}

void PlayerRoute::ReturnUnselected(const std::vector<Sink>& sinks, const std::string& player, bool enabled)
{
    std::erase_if(m_captured, [&](const Captured& captured) {
        const SinkInput& input = captured.input;
        if (enabled && SelectsPlayer(player, input)) return false;
        // The output it came from may have gone meanwhile.
        if (!FindIndex(sinks, input.sink) || !m_session.MoveSinkInput(input.index, input.sink))
            m_session.MoveSinkInputToDefault(input.index);
        return true;
    });
}

bool PlayerRoute::Holds(std::uint32_t input) const
{
    return std::any_of(m_captured.begin(), m_captured.end(),
                       [input](const Captured& captured) { return captured.input.index == input; });
}

void PlayerRoute::TakeSelected(const std::vector<SinkInput>& inputs, const std::string& player)
{
    const auto now = std::chrono::steady_clock::now();
    for (const SinkInput& input : inputs) {
        if (!SelectsPlayer(player, input) || m_released.contains(input.index) || Holds(input.index)) continue;
        if (input.sink == m_sink) {
            // Already here under a number we do not know (PipeWire may renumber a
            // stream it moves): where it came from is lost, so it goes back to the default.
            m_captured.push_back({{input.index, kUnknownSink, true, input.player}, true, now});
        } else if (m_session.MoveSinkInput(input.index, m_sink)) {
            m_captured.push_back({input, false, now});
        } else {
            m_released.insert(input.index);  // pinned to its output by the player itself
        }
    }
}

// The loopback stays while the route is open, even with nothing to carry:
// loading it at the moment a player moves in holds the player's sound back
// for a good part of a second.
void PlayerRoute::UpdateLoopback(const std::vector<Sink>& sinks)
{
    const Sink* home = m_captured.empty() ? nullptr : FindIndex(sinks, m_captured.front().input.sink);
    const auto target = home ? std::optional(home->name) : m_session.DefaultSink();
    // Only into an output that is there, and never into our own sink, which would feed the
    // loopback back to itself: a server moves a loopback whose output went to its default,
    // and one that has no output yet (PipeWire as it starts) names as default one that is
    // not there, or ours; either plays the loopback into ours.
    if (m_loopbackModule && !FindName(sinks, m_loopbackTarget)) UnloadLoopback();
    if (!target || *target == m_sinkName || !FindName(sinks, *target) ||
        (m_loopbackModule && m_loopbackTarget == *target))
        return;
    UnloadLoopback();
    // source_dont_move: should our sink vanish, the loopback goes too, rather
    // than playing some other source (the microphone) to the speakers.
    m_loopbackModule =
        m_session.LoadModule("module-loopback", "source=" + Quoted(m_sourceName) + " sink=" + Quoted(*target) +
                                                    " source_dont_move=true latency_msec=" + kLoopbackLatencyMs +
                                                    " sink_input_properties=" + kOwnStreamProperty + "=loopback");
    m_loopbackTarget = *target;
}

void PlayerRoute::UnloadLoopback()
{
    if (m_loopbackModule) m_session.UnloadModule(*m_loopbackModule);
    m_loopbackModule.reset();
}

void PlayerRoute::Close()
{
    if (const auto sinks = m_session.Sinks()) ReturnUnselected(*sinks, {}, false);
    AwaitSinkEmpty();
    UnloadLoopback();
    m_session.ReleaseSink();
    // Unloading the sink also sends any stream still on it to the default output.
    if (m_sinkModule) m_session.UnloadModule(*m_sinkModule);
    Forget();
}

// PipeWire confirms a move before it has made it: our sink unloaded meanwhile leaves the
// player's stream on no output at all, silent to the operator.
void PlayerRoute::AwaitSinkEmpty()
{
    const auto deadline = std::chrono::steady_clock::now() + kMoveGrace;
    while (std::chrono::steady_clock::now() < deadline) {
        const auto inputs = m_session.SinkInputs();
        if (!inputs || std::none_of(inputs->begin(), inputs->end(), [this](const SinkInput& input) {
                return input.fromProgram && input.sink == m_sink;
            }))
            return;
        std::this_thread::sleep_for(kMovePoll);
    }
}

void PlayerRoute::Forget()
{
    m_sinkModule.reset();
    m_loopbackModule.reset();
    m_captured.clear();
    m_released.clear();
}

}  // namespace castorn
