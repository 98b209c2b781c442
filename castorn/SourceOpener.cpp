#include "castorn/SourceOpener.h"

#include "castorn/LingeringWork.h"

#include <mutex>
#include <utility>

namespace castorn {

struct SourceOpener::Attempt {
    std::mutex mutex;
    GstElement* bin = nullptr;
    std::optional<bool> opened;
    bool abandoned = false;
};

namespace {

void Discard(GstElement* bin)
{
    gst_element_set_state(bin, GST_STATE_NULL);
    gst_object_unref(bin);
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
    // Paused is as far as a live source goes alone: the device is open, nothing flows.
    const bool opened = gst_element_set_state(attempt->bin, GST_STATE_PAUSED) != GST_STATE_CHANGE_FAILURE;
    GstElement* discard = nullptr;
    {
        std::lock_guard lock(attempt->mutex);
        attempt->opened = opened;
        if (attempt->abandoned || !opened) discard = std::exchange(attempt->bin, nullptr);
    }
    if (discard) Discard(discard);
}

std::optional<bool> SourceOpener::Opened() const
{
    std::lock_guard lock(m_attempt->mutex);
    return m_attempt->opened;
}

GstElement* SourceOpener::Take()
{
    std::lock_guard lock(m_attempt->mutex);
    return std::exchange(m_attempt->bin, nullptr);
}

}  // namespace castorn
