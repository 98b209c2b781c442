#include "castorn/RtmpSender.h"

#include "castorn/FlvTag.h"
#include "castorn/GstRef.h"

#include <gio/gio.h>
#include <gst/app/gstappsrc.h>

#include <algorithm>
#include <cstdlib>

namespace castorn {

namespace {

// RTMP's 128-byte default cuts a picture into a hundred pieces; servers take 4 KiB as well.
constexpr guint kChunkSize = 4096;

FlvTagKind Classify(GstBuffer* buffer)
{
    if (GST_BUFFER_FLAG_IS_SET(buffer, GST_BUFFER_FLAG_HEADER)) return FlvTagKind::Header;
    guint8 head[12] = {};
    const gsize size = gst_buffer_extract(buffer, 0, head, sizeof head);
    return ClassifyFlvTag(head, size);
}

}  // namespace

std::unique_ptr<RtmpSender> RtmpSender::Create(const PublishAddress& address, std::size_t queueLimit, std::string& why)
{
    ElementRef pipeline(GST_ELEMENT(gst_object_ref_sink(gst_pipeline_new("castorn-send"))));
    GstElement* source = gst_element_factory_make("appsrc", nullptr);
    GstElement* sink = gst_element_factory_make("rtmp2sink", nullptr);
    if (!source || !sink) {
        if (source) gst_object_unref(gst_object_ref_sink(source));
        if (sink) gst_object_unref(gst_object_ref_sink(sink));
        why = "GStreamer elements \"appsrc\" and \"rtmp2sink\" are needed";
        return nullptr;
    }
    g_object_set(source, "is-live", TRUE, "format", GST_FORMAT_TIME, "block", FALSE, "max-bytes",
                 guint64(queueLimit * 2), nullptr);
    // The engine gives a silent connection up before the element would: it resets it and
    // keeps its ends, where the element's own close leaves the server holding the stream.
    constexpr guint kElementTimeout = kSilenceLimit.count() + 5;
    g_object_set(sink, "host", address.host.c_str(), "port", address.port, "application", address.application.c_str(),
                 "stream", address.PublishName().c_str(), "async-connect", TRUE, "sync", FALSE, "async", FALSE,
                 "chunk-size", kChunkSize, "timeout", kElementTimeout, nullptr);
    gst_util_set_object_arg(G_OBJECT(sink), "scheme", address.secure ? "rtmps" : "rtmp");
    // Every check of the server's certificate, whatever the element's default becomes.
    g_object_set(sink, "tls-validation-flags", G_TLS_CERTIFICATE_VALIDATE_ALL, nullptr);
    gst_bin_add_many(GST_BIN(pipeline.get()), source, sink, nullptr);
    if (!gst_element_link(source, sink)) {
        why = "cannot link appsrc to rtmp2sink";
        return nullptr;
    }
    return std::unique_ptr<RtmpSender>(new RtmpSender(pipeline.release(), source, sink, address.port, queueLimit));
}

RtmpSender::RtmpSender(GstElement* pipeline, GstElement* source, GstElement* sink, int port, std::size_t queueLimit)
    : m_pipeline(pipeline), m_source(source), m_sink(sink), m_port(port), m_queueLimit(queueLimit)
{}

RtmpSender::~RtmpSender()
{
    gst_element_set_state(m_pipeline, GST_STATE_NULL);
    gst_object_unref(m_pipeline);
}

bool RtmpSender::Start(std::string& why)
{
    if (gst_element_set_state(m_pipeline, GST_STATE_PLAYING) != GST_STATE_CHANGE_FAILURE) return true;
    why = "the RTMP client did not start";
    return false;
}

RtmpSender::Push RtmpSender::Send(GstSample* tag)
{
    GstBuffer* buffer = gst_sample_get_buffer(tag);
    const FlvTagKind kind = Classify(buffer);
    guint8 head[8] = {};
    const bool timed = kind != FlvTagKind::Header && gst_buffer_extract(buffer, 0, head, sizeof head) == sizeof head;
    if (timed) m_backlog.Encoded(FlvTagTime(head));
    std::lock_guard lock(m_queueMutex);
    const Push push = m_admission.Admit(kind, m_dropVideo);
    if (push != Push::Sent) return push;
    // Stream headers (file header, metadata, codec setup) go as they are.
    m_queue.Add(kind == FlvTagKind::Header ? gst_sample_ref(tag) : Rebased(tag), kind);
    if (timed) m_backlog.Queued(FlvTagTime(head), gst_buffer_get_size(buffer));
    HandOn();
    return push;
}

GstSample* RtmpSender::Rebased(GstSample* tag)
{
    GstBuffer* copy = gst_buffer_copy_deep(gst_sample_get_buffer(tag));
    GstMapInfo map;
    if (gst_buffer_map(copy, &map, GST_MAP_READWRITE)) {
        if (map.size >= 8) SetFlvTagTime(map.data, m_admission.Rebased(FlvTagTime(map.data)));
        gst_buffer_unmap(copy, &map);
    }
    GstSample* rebased = gst_sample_new(copy, gst_sample_get_caps(tag), gst_sample_get_segment(tag), nullptr);
    gst_buffer_unref(copy);
    return rebased;
}

void RtmpSender::HandOn(bool all)
{
    // Enough for the element to keep the socket busy between two rounds; the rest waits here.
    constexpr guint64 kHandedOnBytes = 16 * 1024;
    auto elementHasRoom = [this] {
        return gst_app_src_get_current_level_bytes(GST_APP_SRC(m_source)) < kHandedOnBytes;
    };
    // The socket only fills while we hand on, so one look at it per round is enough.
    if (!all && !m_queue.Empty() && elementHasRoom() && !SocketHasRoom()) return;
    while (!m_queue.Empty() && (all || elementHasRoom())) {
        GstSample* tag = m_queue.Take();
        gst_app_src_push_sample(GST_APP_SRC(m_source), tag);
        gst_sample_unref(tag);
    }
}

void RtmpSender::DropVideo(bool drop)
{
    std::lock_guard lock(m_queueMutex);
    if (drop && !m_dropVideo) m_admission.Withdraw(m_queue.DropVideo());
    m_dropVideo = drop;
}

void RtmpSender::Finish()
{
    m_receivedAtFinish = StatsField("in-bytes-total");
    {
        std::lock_guard lock(m_queueMutex);
        HandOn(true);
    }
    gst_app_src_end_of_stream(GST_APP_SRC(m_source));
}

bool RtmpSender::AnsweredFinish() const
{
    return StatsField("in-bytes-total") > m_receivedAtFinish;
}

std::uint64_t RtmpSender::StatsField(const char* name) const
{
    GstStructure* stats = nullptr;
    g_object_get(m_sink, "stats", &stats, nullptr);
    const StructureRef owned(stats);
    guint64 value = 0;
    return stats && gst_structure_get_uint64(stats, name, &value) ? value : 0;
}

// rtmp2sink shows the connection's figures only once the publish is accepted.
bool RtmpSender::Connected() const
{
    return StatsField("in-bytes-total") > 0;
}

bool RtmpSender::AttemptOver() const
{
    if (Connected()) return true;
    const BusRef bus(gst_element_get_bus(m_pipeline));
    const std::unique_ptr<GstMessage, GstMessageUnref> error(gst_bus_pop_filtered(bus.get(), GST_MESSAGE_ERROR));
    return error != nullptr;
}

std::size_t RtmpSender::Queued()
{
    std::lock_guard lock(m_queueMutex);
    HandOn();
    return m_queue.Bytes() + static_cast<std::size_t>(gst_app_src_get_current_level_bytes(GST_APP_SRC(m_source)));
}

// What the socket holds beyond its fitted size would wait there, out of reach of dropping,
// behind whatever the network is retransmitting.
bool RtmpSender::SocketHasRoom() const
{
    return m_socketBytes == 0 || m_socket.Unacknowledged().value_or(0) < static_cast<std::uint64_t>(m_socketBytes);
}

std::uint64_t RtmpSender::SocketWaiting()
{
    std::lock_guard lock(m_queueMutex);
    if (!m_socket.Found() && Connected()) m_socket.Find(m_port);
    return m_socket.Unacknowledged().value_or(0);
}

SenderFlow RtmpSender::Flow()
{
    const std::uint64_t inSocket = SocketWaiting();
    const std::uint64_t written = StatsField("out-bytes-total");
    SenderFlow flow;
    flow.waiting = Queued() + inSocket;
    flow.delivered = written > inSocket ? written - inSocket : 0;
    flow.behind = m_backlog.Behind(flow.waiting);
    return flow;
}

void RtmpSender::FitSocket(int kbps)
{
    // What keeps the network busy over a round trip, and a little for the scheduler. More
    // would only wait there, out of reach.
    constexpr int kLeastBytes = 8 * 1024;
    constexpr std::chrono::milliseconds kSlack{50};
    const auto roundTrip = m_socket.MinRoundTrip();
    if (!roundTrip) return;
    const auto held = std::chrono::duration_cast<std::chrono::milliseconds>(*roundTrip) + kSlack;
    const int bytes = std::max(kLeastBytes, static_cast<int>(kbps / 8 * held.count()));
    // Only a change worth a system call.
    std::lock_guard lock(m_queueMutex);
    if (std::abs(bytes - m_socketBytes) * 10 < m_socketBytes) return;
    m_socketBytes = bytes;
    m_socket.BoundBuffer(bytes);
}

std::optional<StaleSession> RtmpSender::Abandon()
{
    SocketWaiting();
    m_socket.DiscardOnClose();
    return m_socket.Session();
}

SenderCounters RtmpSender::Counters()
{
    return {StatsField("out-bytes-total"), m_admission.FramesSent(), m_admission.FramesDropped(), Queued()};
}

}  // namespace castorn
