#include "castorn/background/PulseSession.h"

#include <pulse/pulseaudio.h>

#include <utility>

namespace castorn {

namespace {

using Clock = std::chrono::steady_clock;

// A local server answers within milliseconds; this only bounds a stalled one.
constexpr std::chrono::milliseconds kRequestDeadline{1000};
// The holding stream's buffer: short enough that the sink renders in blocks of about 17 ms
// (the loopback's own request then sets them), long enough that the recorder on the sink's
// monitor is not woken 200 times a second, as it was with 20 ms.
constexpr pa_usec_t kHoldingBufferUs = 80000;

template <class Item>
struct Listing {
    std::vector<Item> items;
    bool failed = false;
};

std::string PlayerName(const pa_proplist* props)
{
    for (const char* key : {PA_PROP_APPLICATION_NAME, PA_PROP_APPLICATION_PROCESS_BINARY}) {
        if (const char* value = pa_proplist_gets(props, key)) return value;
    }
    return {};
}

void AddSinkInput(pa_context*, const pa_sink_input_info* info, int eol, void* userdata)
{
    auto* listing = static_cast<Listing<SinkInput>*>(userdata);
    if (eol < 0) listing->failed = true;
    if (eol != 0) return;
    const bool fromProgram =
        info->client != PA_INVALID_INDEX && !pa_proplist_contains(info->proplist, kOwnStreamProperty);
    listing->items.push_back({info->index, info->sink, fromProgram, PlayerName(info->proplist)});
}

void AddSink(pa_context*, const pa_sink_info* info, int eol, void* userdata)
{
    auto* listing = static_cast<Listing<Sink>*>(userdata);
    if (eol < 0) listing->failed = true;
    if (eol != 0) return;
    listing->items.push_back({info->index, info->name});
}

void AddModule(pa_context*, const pa_module_info* info, int eol, void* userdata)
{
    auto* listing = static_cast<Listing<LoadedModule>*>(userdata);
    if (eol < 0) listing->failed = true;
    if (eol != 0) return;
    listing->items.push_back({info->index, info->name, info->argument ? info->argument : ""});
}

void AddOwnerMark(pa_context*, const pa_client_info* info, int eol, void* userdata)
{
    auto* listing = static_cast<Listing<std::string>*>(userdata);
    if (eol < 0) listing->failed = true;
    if (eol != 0) return;
    if (const char* mark = pa_proplist_gets(info->proplist, kOwnerProperty)) listing->items.emplace_back(mark);
}

void StoreSuccess(pa_context*, int success, void* userdata)
{
    *static_cast<bool*>(userdata) = success != 0;
}

void StoreIndex(pa_context*, std::uint32_t index, void* userdata)
{
    *static_cast<std::uint32_t*>(userdata) = index;
}

// Traffic alone wakes the loop; nothing needs to be recorded per event.
void IgnoreEvent(pa_context*, pa_subscription_event_type_t, std::uint32_t, void*) {}

}  // namespace

PulseSession::PulseSession() : m_loop(pa_mainloop_new()) {}

PulseSession::~PulseSession()
{
    Disconnect();
    pa_mainloop_free(m_loop);
}

template <class Done>
bool PulseSession::RunUntil(Done done, Clock::time_point deadline)
{
    while (!done()) {
        const auto left = std::chrono::duration_cast<std::chrono::microseconds>(deadline - Clock::now());
        if (left.count() <= 0) return false;
        if (pa_mainloop_prepare(m_loop, static_cast<int>(left.count())) < 0 || pa_mainloop_poll(m_loop) < 0 ||
            pa_mainloop_dispatch(m_loop) < 0)
            return false;
    }
    return true;
}

bool PulseSession::Connect()
{
    Disconnect();
    pa_proplist* props = pa_proplist_new();
    if (!m_ownerMark.empty()) pa_proplist_sets(props, kOwnerProperty, m_ownerMark.c_str());
    m_context = pa_context_new_with_proplist(pa_mainloop_get_api(m_loop), "castorn background audio", props);
    pa_proplist_free(props);
    if (!m_context || pa_context_connect(m_context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
        Disconnect();
        return false;
    }
    const auto settled = [this] {
        const pa_context_state_t state = pa_context_get_state(m_context);
        return state == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(state);
    };
    if (!RunUntil(settled, Clock::now() + kRequestDeadline) || !Connected()) {
        Disconnect();
        return false;
    }
    pa_context_set_subscribe_callback(m_context, &IgnoreEvent, nullptr);
    const auto mask = static_cast<pa_subscription_mask_t>(PA_SUBSCRIPTION_MASK_SINK_INPUT | PA_SUBSCRIPTION_MASK_SINK |
                                                          PA_SUBSCRIPTION_MASK_MODULE | PA_SUBSCRIPTION_MASK_SERVER);
    bool subscribed = false;
    if (!Finish(pa_context_subscribe(m_context, mask, &StoreSuccess, &subscribed)) || !subscribed) {
        Disconnect();
        return false;
    }
    return true;
}

void PulseSession::Disconnect()
{
    ReleaseSink();
    if (!m_context) return;
    pa_context_set_subscribe_callback(m_context, nullptr, nullptr);
    pa_context_disconnect(m_context);
    pa_context_unref(m_context);
    m_context = nullptr;
}

bool PulseSession::Connected() const
{
    return m_context && pa_context_get_state(m_context) == PA_CONTEXT_READY;
}

void PulseSession::Wait(std::chrono::milliseconds timeout)
{
    const auto usec = std::chrono::duration_cast<std::chrono::microseconds>(timeout).count();
    if (pa_mainloop_prepare(m_loop, static_cast<int>(usec)) >= 0 && pa_mainloop_poll(m_loop) >= 0)
        pa_mainloop_dispatch(m_loop);
}

void PulseSession::Wake()
{
    pa_mainloop_wakeup(m_loop);
}

bool PulseSession::Finish(pa_operation* op)
{
    if (!op) return false;
    const bool settled =
        RunUntil([op] { return pa_operation_get_state(op) != PA_OPERATION_RUNNING; }, Clock::now() + kRequestDeadline);
    if (!settled) pa_operation_cancel(op);  // also drops the callback, which points at the caller's stack
    const bool done = pa_operation_get_state(op) == PA_OPERATION_DONE;
    pa_operation_unref(op);
    return done;
}

std::optional<std::vector<SinkInput>> PulseSession::SinkInputs()
{
    if (!Connected()) return std::nullopt;
    Listing<SinkInput> listing;
    if (!Finish(pa_context_get_sink_input_info_list(m_context, &AddSinkInput, &listing)) || listing.failed)
        return std::nullopt;
    return std::move(listing.items);
}

std::optional<std::vector<Sink>> PulseSession::Sinks()
{
    if (!Connected()) return std::nullopt;
    Listing<Sink> listing;
    if (!Finish(pa_context_get_sink_info_list(m_context, &AddSink, &listing)) || listing.failed) return std::nullopt;
    return std::move(listing.items);
}

std::optional<std::vector<LoadedModule>> PulseSession::Modules()
{
    if (!Connected()) return std::nullopt;
    Listing<LoadedModule> listing;
    if (!Finish(pa_context_get_module_info_list(m_context, &AddModule, &listing)) || listing.failed)
        return std::nullopt;
    return std::move(listing.items);
}

std::optional<std::vector<std::string>> PulseSession::OwnerMarks()
{
    if (!Connected()) return std::nullopt;
    Listing<std::string> listing;
    if (!Finish(pa_context_get_client_info_list(m_context, &AddOwnerMark, &listing)) || listing.failed)
        return std::nullopt;
    return std::move(listing.items);
}

std::optional<std::string> PulseSession::DefaultSink()
{
    if (!Connected()) return std::nullopt;
    std::optional<std::string> name;
    const auto store = [](pa_context*, const pa_server_info* info, void* userdata) {
        if (info->default_sink_name) *static_cast<std::optional<std::string>*>(userdata) = info->default_sink_name;
    };
    if (!Finish(pa_context_get_server_info(m_context, store, &name))) return std::nullopt;
    return name;
}

std::optional<std::uint32_t> PulseSession::LoadModule(const std::string& name, const std::string& argument)
{
    if (!Connected()) return std::nullopt;
    std::uint32_t index = PA_INVALID_INDEX;
    if (!Finish(pa_context_load_module(m_context, name.c_str(), argument.c_str(), &StoreIndex, &index)) ||
        index == PA_INVALID_INDEX)
        return std::nullopt;
    return index;
}

bool PulseSession::UnloadModule(std::uint32_t index)
{
    bool ok = false;
    return Connected() && Finish(pa_context_unload_module(m_context, index, &StoreSuccess, &ok)) && ok;
}

bool PulseSession::MoveSinkInput(std::uint32_t input, std::uint32_t sink)
{
    bool ok = false;
    return Connected() && Finish(pa_context_move_sink_input_by_index(m_context, input, sink, &StoreSuccess, &ok)) && ok;
}

bool PulseSession::MoveSinkInputToDefault(std::uint32_t input)
{
    bool ok = false;
    return Connected() &&
           Finish(pa_context_move_sink_input_by_name(m_context, input, "@DEFAULT_SINK@", &StoreSuccess, &ok)) && ok;
}

bool PulseSession::HoldSinkResponsive(const std::string& sink)
{
    ReleaseSink();
    if (!Connected()) return false;
    const pa_sample_spec spec{PA_SAMPLE_S16LE, 48000, 2};
    pa_proplist* props = pa_proplist_new();
    pa_proplist_sets(props, kOwnStreamProperty, "holder");
    m_holder = pa_stream_new_with_proplist(m_context, "capture sink latency", &spec, nullptr, props);
    pa_proplist_free(props);
    const std::uint32_t any = static_cast<std::uint32_t>(-1);
    const pa_buffer_attr attr{any, static_cast<std::uint32_t>(pa_usec_to_bytes(kHoldingBufferUs, &spec)), 0, any, any};
    const auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY | PA_STREAM_START_CORKED);
    if (!m_holder || pa_stream_connect_playback(m_holder, sink.c_str(), &attr, flags, nullptr, nullptr) < 0) {
        ReleaseSink();
        return false;
    }
    const auto settled = [this] { return pa_stream_get_state(m_holder) != PA_STREAM_CREATING; };
    bool suspended = false, resumed = false;
    // Suspending and resuming the sink drops what it rendered ahead before the
    // stream asked for short blocks.
    if (!RunUntil(settled, Clock::now() + kRequestDeadline) || pa_stream_get_state(m_holder) != PA_STREAM_READY ||
        !Finish(pa_context_suspend_sink_by_name(m_context, sink.c_str(), 1, &StoreSuccess, &suspended)) ||
        !Finish(pa_context_suspend_sink_by_name(m_context, sink.c_str(), 0, &StoreSuccess, &resumed)) || !resumed) {
        ReleaseSink();
        return false;
    }
    return true;
}

void PulseSession::ReleaseSink()
{
    if (!m_holder) return;
    pa_stream_disconnect(m_holder);
    pa_stream_unref(m_holder);
    m_holder = nullptr;
}

}  // namespace castorn
