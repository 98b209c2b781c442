// Where a capture path's feeds change: downstream sees one stream.
#include "castorn/FeedJoint.h"

#include <gst/gst.h>
#include <gtest/gtest.h>

#include <vector>

using namespace castorn;

namespace {

constexpr GstClockTime kPiece = 40 * GST_MSECOND;

// A source pad linked to a sink pad that keeps what reaches it, with the joint on the sink.
class JointRig {
public:
    JointRig()
    {
        gst_init(nullptr, nullptr);
        m_source = gst_pad_new("src", GST_PAD_SRC);
        m_sink = gst_pad_new("sink", GST_PAD_SINK);
        gst_pad_set_chain_function(m_sink, &JointRig::Chain);
        gst_pad_set_event_function(m_sink, &JointRig::Event);
        gst_pad_set_element_private(m_sink, this);
        gst_pad_set_active(m_source, TRUE);
        gst_pad_set_active(m_sink, TRUE);
        gst_pad_link(m_source, m_sink);
        m_joint = std::make_unique<FeedJoint>(m_sink, [this](std::uint64_t feed) { ended.push_back(feed); });
    }
    ~JointRig()
    {
        m_joint.reset();
        gst_pad_set_active(m_source, FALSE);
        gst_pad_set_active(m_sink, FALSE);
        gst_object_unref(m_source);
        gst_object_unref(m_sink);
    }

    FeedJoint& Joint() { return *m_joint; }

    // A live source's opening: its stream and a time segment from zero.
    void Open(const char* stream)
    {
        gst_pad_push_event(m_source, gst_event_new_stream_start(stream));
        GstSegment segment;
        gst_segment_init(&segment, GST_FORMAT_TIME);
        gst_pad_push_event(m_source, gst_event_new_segment(&segment));
    }

    void Push(GstClockTime start)
    {
        GstBuffer* buffer = gst_buffer_new();
        GST_BUFFER_PTS(buffer) = start;
        GST_BUFFER_DURATION(buffer) = kPiece;
        gst_pad_push(m_source, buffer);
    }

    void End() { gst_pad_push_event(m_source, gst_event_new_eos()); }

    std::vector<GstClockTime> starts;  // of the buffers that went through
    std::vector<GstEventType> events;  // that went through
    std::vector<std::uint64_t> ended;  // feeds told as ended

private:
    static GstFlowReturn Chain(GstPad* pad, GstObject*, GstBuffer* buffer)
    {
        static_cast<JointRig*>(gst_pad_get_element_private(pad))->starts.push_back(GST_BUFFER_PTS(buffer));
        gst_buffer_unref(buffer);
        return GST_FLOW_OK;
    }
    static gboolean Event(GstPad* pad, GstObject*, GstEvent* event)
    {
        static_cast<JointRig*>(gst_pad_get_element_private(pad))->events.push_back(GST_EVENT_TYPE(event));
        gst_event_unref(event);
        return TRUE;
    }

    GstPad* m_source;
    GstPad* m_sink;
    std::unique_ptr<FeedJoint> m_joint;
};

}  // namespace

TEST(FeedJoint, ALaterFeedContinuesTheStreamAndItsEndIsToldNotPassedUntilTheWholeEnds)
{
    JointRig rig;
    const auto first = rig.Joint().NewFeed();
    rig.Open("first");
    for (GstClockTime start = 0; start < 3 * kPiece; start += kPiece) rig.Push(start);
    EXPECT_EQ(rig.Joint().DeliveredUntil(), 3 * kPiece);
    rig.End();
    EXPECT_EQ(rig.ended, std::vector<std::uint64_t>{first}) << "the feed's end is told";

    const auto second = rig.Joint().NewFeed();
    EXPECT_NE(second, first);
    rig.Open("second");
    rig.Push(kPiece + kPiece / 2);      // ends before what was delivered: dropped
    rig.Push(3 * kPiece - kPiece / 4);  // overlaps a little: kept
    rig.Push(4 * kPiece);
    EXPECT_EQ(rig.starts, (std::vector<GstClockTime>{0, kPiece, 2 * kPiece, 3 * kPiece - kPiece / 4, 4 * kPiece}));
    EXPECT_EQ(rig.Joint().DeliveredUntil(), 5 * kPiece);
    EXPECT_EQ(rig.events, (std::vector<GstEventType>{GST_EVENT_STREAM_START, GST_EVENT_SEGMENT}))
        << "one stream start, one segment, and no end yet";

    rig.Joint().SetEnding();
    rig.End();
    EXPECT_EQ(rig.events.back(), GST_EVENT_EOS) << "the pipeline's own end goes through";
    EXPECT_EQ(rig.ended.size(), 1u);
}
