// The fixed pad where whatever feeds a capture path (its source, or the silence or
// black standing in for it) enters the rest of the pipeline. Downstream sees one
// stream: a later feed's stream start and segment are dropped, its buffers that
// fall within what was already delivered too, and a feed's end of stream is held
// back and reported unless the whole pipeline is ending.
#pragma once

#include "castorn/GstRef.h"

#include <gst/gst.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>

namespace castorn {

class FeedJoint {
public:
    // Called on a streaming thread with the serial of the feed that ended by itself.
    using EndedHandler = std::function<void(std::uint64_t feed)>;

    FeedJoint(GstPad* pad, EndedHandler onEnded);  // pad: the fixed sink pad
    ~FeedJoint();
    FeedJoint(const FeedJoint&) = delete;
    FeedJoint& operator=(const FeedJoint&) = delete;

    GstPad* Pad() const { return m_pad.get(); }
    std::uint64_t NewFeed();  // before a new feed is linked; its serial
    void SetEnding() { m_ending = true; }
    bool Ending() const { return m_ending; }
    // Running time up to which media went through; GST_CLOCK_TIME_NONE before any.
    GstClockTime DeliveredUntil();

private:
    static GstPadProbeReturn OnData(GstPad* pad, GstPadProbeInfo* info, gpointer self);
    GstPadProbeReturn OnEvent(GstEvent* event);
    GstPadProbeReturn OnBuffer(GstBuffer* buffer);

    PadRef m_pad;
    gulong m_probe = 0;
    EndedHandler m_onEnded;
    std::atomic<bool> m_ending{false};
    std::mutex m_mutex;
    std::uint64_t m_feed = 0;
    GstClockTime m_lastStart = GST_CLOCK_TIME_NONE;
    GstClockTime m_deliveredUntil = GST_CLOCK_TIME_NONE;
};

}  // namespace castorn
