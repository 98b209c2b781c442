#include "castorn/FeedJoint.h"

namespace castorn {

FeedJoint::FeedJoint(GstPad* pad, EndedHandler onEnded)
    : m_pad(GST_PAD(gst_object_ref(pad))), m_onEnded(std::move(onEnded))
{
    m_probe = gst_pad_add_probe(
        m_pad.get(), static_cast<GstPadProbeType>(GST_PAD_PROBE_TYPE_BUFFER | GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM),
        &FeedJoint::OnData, this, nullptr);
}

FeedJoint::~FeedJoint()
{
    gst_pad_remove_probe(m_pad.get(), m_probe);
}

std::uint64_t FeedJoint::NewFeed()
{
    std::lock_guard lock(m_mutex);
    return ++m_feed;
}

GstClockTime FeedJoint::DeliveredUntil()
{
    std::lock_guard lock(m_mutex);
    return m_deliveredUntil;
}

GstPadProbeReturn FeedJoint::OnData(GstPad*, GstPadProbeInfo* info, gpointer self)
{
    auto* joint = static_cast<FeedJoint*>(self);
    if (GST_PAD_PROBE_INFO_TYPE(info) & GST_PAD_PROBE_TYPE_BUFFER)
        return joint->OnBuffer(GST_PAD_PROBE_INFO_BUFFER(info));
    return joint->OnEvent(GST_PAD_PROBE_INFO_EVENT(info));
}

GstPadProbeReturn FeedJoint::OnEvent(GstEvent* event)
{
    switch (GST_EVENT_TYPE(event)) {
    case GST_EVENT_STREAM_START:
    case GST_EVENT_SEGMENT: {
        // Every live source starts a time segment at zero: the one in force stays.
        GstEvent* current = gst_pad_get_sticky_event(m_pad.get(), GST_EVENT_TYPE(event), 0);
        if (!current) return GST_PAD_PROBE_OK;
        gst_event_unref(current);
        return GST_PAD_PROBE_DROP;
    }
    case GST_EVENT_EOS: {
        if (m_ending) return GST_PAD_PROBE_OK;
        std::uint64_t feed = 0;
        {
            std::lock_guard lock(m_mutex);
            feed = m_feed;
        }
        m_onEnded(feed);
        return GST_PAD_PROBE_DROP;
    }
    default: return GST_PAD_PROBE_OK;
    }
}

GstPadProbeReturn FeedJoint::OnBuffer(GstBuffer* buffer)
{
    const GstClockTime start = GST_BUFFER_PTS(buffer);
    if (!GST_CLOCK_TIME_IS_VALID(start)) return GST_PAD_PROBE_OK;
    const GstClockTime end = start + (GST_BUFFER_DURATION_IS_VALID(buffer) ? GST_BUFFER_DURATION(buffer) : 0);
    std::lock_guard lock(m_mutex);
    // A feed taken over overlaps the one before by a little: what was delivered stays.
    const bool delivered = GST_CLOCK_TIME_IS_VALID(m_deliveredUntil) &&
                           (end <= m_deliveredUntil || (GST_CLOCK_TIME_IS_VALID(m_lastStart) && start <= m_lastStart));
    if (delivered) return GST_PAD_PROBE_DROP;
    m_lastStart = start;
    m_deliveredUntil = end;
    return GST_PAD_PROBE_OK;
}

}  // namespace castorn
