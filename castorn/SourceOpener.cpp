#include "castorn/SourceOpener.h"

#include "castorn/GstRef.h"
#include "castorn/LingeringWork.h"

#include <chrono>
#include <mutex>
#include <utility>

namespace castorn {

namespace {

// A live source that has not settled its format by then is taken as open, as it may do
// that only once playing.
constexpr std::chrono::milliseconds kSettleLimit{2000};
constexpr std::chrono::milliseconds kSettlePoll{10};

void Discard(GstElement* bin)
{
    gst_element_set_state(bin, GST_STATE_NULL);
    gst_object_unref(bin);
}

void DropBus(GstBus* bus)
{
    if (!bus) return;
    gst_bus_set_flushing(bus, TRUE);
    gst_object_unref(bus);
}

struct OpenError {
    std::string text = "the source could not be opened";
    bool refused = false;
};

// The first error on `bus`, taken off it; none when it holds none.
std::optional<OpenError> TakeError(GstBus* bus, GstClockTime wait = 0)
{
    GstMessage* message = gst_bus_timed_pop_filtered(bus, wait, GST_MESSAGE_ERROR);
    if (!message) return std::nullopt;
    OpenError found;
    GError* error = nullptr;
    gst_message_parse_error(message, &error, nullptr);
    if (error)
        found = {error->message,
                 g_error_matches(error, GST_RESOURCE_ERROR, GST_RESOURCE_ERROR_NOT_AUTHORIZED) != FALSE};
    g_clear_error(&error);
    gst_message_unref(message);
    return found;
}

// Whether `bin` records from a sound server: it has the recorder's "current-device".
bool RecordsSoundServer(GstElement* bin)
{
    if (!GST_IS_BIN(bin)) return false;
    bool found = false;
    GstIterator* elements = gst_bin_iterate_recurse(GST_BIN(bin));
    GValue item = G_VALUE_INIT;
    while (!found && gst_iterator_next(elements, &item) == GST_ITERATOR_OK) {
        found = g_object_class_find_property(G_OBJECT_GET_CLASS(g_value_get_object(&item)), "current-device");
        g_value_reset(&item);
    }
    g_value_unset(&item);
    gst_iterator_free(elements);
    return found;
}

// A sound server refuses a recording of a source that is not there only once the paused
// source connects its stream, which it does on its own thread as it settles its format:
// until then a refused source looks open.
std::optional<OpenError> AwaitSettled(GstElement* bin, GstBus* bus)
{
    const PadRef pad(gst_element_get_static_pad(bin, "src"));
    const auto deadline = std::chrono::steady_clock::now() + kSettleLimit;
    while (pad && !gst_pad_has_current_caps(pad.get()) && std::chrono::steady_clock::now() < deadline) {
        if (auto error = TakeError(bus, std::chrono::nanoseconds(kSettlePoll).count())) return error;
    }
    return TakeError(bus);
}

}  // namespace

struct SourceOpener::Attempt {
    ~Attempt() { DropBus(bus); }

    std::mutex mutex;
    GstElement* bin = nullptr;
    // The source's own until a pipeline takes the source: an error it gives meanwhile waits here.
    GstBus* bus = nullptr;
    std::optional<bool> opened;
    std::string error;
    bool refused = false;
    bool abandoned = false;
};

SourceOpener::SourceOpener(GstElement* bin) : m_attempt(std::make_shared<Attempt>())
{
    m_attempt->bin = bin;
    LingeringWork::Start("castorn-open", [attempt = m_attempt] { Run(attempt); });
}

SourceOpener::~SourceOpener()
{
    GstElement* bin = nullptr;
    {
        std::lock_guard lock(m_attempt->mutex);
        m_attempt->abandoned = true;
        if (m_attempt->opened) bin = std::exchange(m_attempt->bin, nullptr);
        // otherwise the attempt discards it when done
    }
    if (bin) Discard(bin);
}

void SourceOpener::Run(const std::shared_ptr<Attempt>& attempt)
{
    GstBus* bus = gst_bus_new();
    gst_element_set_bus(attempt->bin, bus);
    // Only a sound server's recording is refused that late; other sources are not waited
    // for: a screen cast settles once playing, and its first frame, all a still screen
    // sends, must not wait.
    const bool recording = RecordsSoundServer(attempt->bin);
    // Paused is as far as a live source goes alone: the device is open, nothing flows.
    const bool paused = gst_element_set_state(attempt->bin, GST_STATE_PAUSED) != GST_STATE_CHANGE_FAILURE;
    const auto error = !paused     ? TakeError(bus).value_or(OpenError{})
                       : recording ? AwaitSettled(attempt->bin, bus)
                                   : TakeError(bus);
    const bool opened = !error;
    GstElement* discard = nullptr;
    {
        std::lock_guard lock(attempt->mutex);
        attempt->opened = opened;
        attempt->error = error ? error->text : std::string();
        attempt->refused = error && error->refused;
        if (attempt->abandoned || !opened) discard = std::exchange(attempt->bin, nullptr);
        if (!discard && recording) attempt->bus = std::exchange(bus, nullptr);
    }
    DropBus(bus);
    if (discard) Discard(discard);
}

std::optional<bool> SourceOpener::Opened() const
{
    std::lock_guard lock(m_attempt->mutex);
    return m_attempt->opened;
}

std::string SourceOpener::Error() const
{
    std::lock_guard lock(m_attempt->mutex);
    return m_attempt->error;
}

bool SourceOpener::Refused() const
{
    std::lock_guard lock(m_attempt->mutex);
    return m_attempt->refused;
}

GstElement* SourceOpener::Take()
{
    GstElement* bin = nullptr;
    std::optional<OpenError> error;
    {
        std::lock_guard lock(m_attempt->mutex);
        bin = std::exchange(m_attempt->bin, nullptr);
        if (m_attempt->bus) error = TakeError(m_attempt->bus);
        if (error) {
            m_attempt->error = error->text;
            m_attempt->refused = error->refused;
        }
    }
    if (!error || !bin) return bin;
    // Failed after it settled, before a pipeline had it; away from the caller's thread.
    LingeringWork::Start("castorn-open", [bin] { Discard(bin); });
    return nullptr;
}

}  // namespace castorn
