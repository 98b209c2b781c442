#include "castorn/SourceOpener.h"

#include "castorn/LingeringWork.h"

#include <mutex>
#include <utility>

namespace castorn {

struct SourceOpener::Attempt {
    std::mutex mutex;
    GstElement* bin = nullptr;
    std::optional<bool> opened;
    std::string error;
    bool refused = false;
    bool abandoned = false;
};

namespace {

void Discard(GstElement* bin)
{
    gst_element_set_state(bin, GST_STATE_NULL);
    gst_object_unref(bin);
}

struct OpenError {
    std::string text = "the source could not be opened";
    bool refused = false;
};

OpenError FirstError(GstBus* bus)
{
    OpenError found;
    GstMessage* message = gst_bus_pop_filtered(bus, GST_MESSAGE_ERROR);
    if (!message) return found;
    GError* error = nullptr;
    gst_message_parse_error(message, &error, nullptr);
    if (error)
        found = {error->message,
                 g_error_matches(error, GST_RESOURCE_ERROR, GST_RESOURCE_ERROR_NOT_AUTHORIZED) != FALSE};
    g_clear_error(&error);
    gst_message_unref(message);
    return found;
}

}  // namespace

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
    // A bus of its own until a pipeline takes it, for why it failed.
    GstBus* bus = gst_bus_new();
    gst_element_set_bus(attempt->bin, bus);
    // Paused is as far as a live source goes alone: the device is open, nothing flows.
    const bool opened = gst_element_set_state(attempt->bin, GST_STATE_PAUSED) != GST_STATE_CHANGE_FAILURE;
    const OpenError error = opened ? OpenError{{}, false} : FirstError(bus);
    gst_bus_set_flushing(bus, TRUE);
    gst_object_unref(bus);
    GstElement* discard = nullptr;
    {
        std::lock_guard lock(attempt->mutex);
        attempt->opened = opened;
        attempt->error = error.text;
        attempt->refused = error.refused;
        if (attempt->abandoned || !opened) discard = std::exchange(attempt->bin, nullptr);
    }
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
    std::lock_guard lock(m_attempt->mutex);
    return std::exchange(m_attempt->bin, nullptr);
}

}  // namespace castorn
