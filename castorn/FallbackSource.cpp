#include "castorn/FallbackSource.h"

#include "castorn/GstRef.h"

#include <malloc.h>

#include <utility>

namespace castorn {

namespace {

constexpr char kFeedEnded[] = "castorn-feed-ended";
// A source held at its pad has media: it is taken at once rather than at the next Tend.
constexpr char kPendingReady[] = "castorn-pending-ready";

// Whether `object` is `element` or inside it.
bool Holds(GstElement* element, GstObject* object)
{
    return element && (object == GST_OBJECT(element) || gst_object_has_as_ancestor(object, GST_OBJECT(element)));
}

}  // namespace

FallbackSource::FallbackSource(GstBin* pipeline, GstPad* joint, SourceMaker source, StandInMaker standIn,
                               ChangeHandler onChange)
    : m_pipeline(pipeline),
      m_source(std::move(source)),
      m_standIn(std::move(standIn)),
      m_onChange(std::move(onChange)),
      m_joint(joint, [this](std::uint64_t feed) { Post(kFeedEnded, feed); })
{}

FallbackSource::~FallbackSource() = default;

void FallbackSource::Build()
{
    Feed(m_standIn(0));
    if (!m_source) return;
    m_lost = true;
    m_quietUntil = std::chrono::steady_clock::now() + kStartQuiet;
    Open();
}

void FallbackSource::Open()
{
    m_lastTry = std::chrono::steady_clock::now();
    std::string why;
    if (GstElement* source = m_source(why))
        m_opener = std::make_unique<SourceOpener>(source);
    else
        TellOnce(why);
}

void FallbackSource::Tell(const std::string& why)
{
    m_told = true;
    m_onChange(why);
}

void FallbackSource::TellOnce(const std::string& why)
{
    if (!m_told && std::chrono::steady_clock::now() >= m_quietUntil) Tell(why);
}

bool FallbackSource::SourceFeeds(GstObject* object) const
{
    return !m_lost && m_source && Holds(m_current, object);
}

void FallbackSource::Lose(const std::string& why)
{
    m_lost = true;
    m_lastTry = std::chrono::steady_clock::now();
    const GstClockTime delivered = m_joint.DeliveredUntil();
    Feed(m_standIn(GST_CLOCK_TIME_IS_VALID(delivered) ? delivered : RunningTimeNow()));
    Tell(why);
}

bool FallbackSource::TakeMessage(GstMessage* message)
{
    GstObject* from = GST_MESSAGE_SRC(message);
    if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_ERROR && Holds(m_pending, from)) {
        DropPending();
        GError* error = nullptr;
        gst_message_parse_error(message, &error, nullptr);
        TellOnce(error ? error->message : "the source failed");
        g_clear_error(&error);
        return true;
    }
    if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_ERROR && SourceFeeds(from)) {
        GError* error = nullptr;
        gst_message_parse_error(message, &error, nullptr);
        Lose(error ? error->message : "the source failed");
        g_clear_error(&error);
        return true;
    }
    if (GST_MESSAGE_TYPE(message) != GST_MESSAGE_APPLICATION) return false;
    const GstStructure* news = gst_message_get_structure(message);
    const bool ended = gst_structure_has_name(news, kFeedEnded);
    if (!ended && !gst_structure_has_name(news, kPendingReady)) return false;
    gpointer source = nullptr;
    guint64 feed = 0;
    gst_structure_get(news, "source", G_TYPE_POINTER, &source, "feed", G_TYPE_UINT64, &feed, nullptr);
    if (source != this) return false;
    if (!ended && m_pending && m_pendingHasMedia && !m_joint.Ending()) TakePending();
    if (ended && feed == m_feed && !m_lost && m_source) Lose("the source ended");
    return true;
}

void FallbackSource::Tend()
{
    if (m_joint.Ending()) return;
    const auto now = std::chrono::steady_clock::now();
    if (!m_lost && m_source && Stalled(now)) Lose("the source stopped giving media");
    if (!m_lost) return;
    const bool overdue = now - m_lastTry > kFirstMediaLimit;
    if (m_pending) {
        if (m_pendingHasMedia) {
            TakePending();
        } else if (overdue) {
            DropPending();
            TellOnce("the source gave nothing");
        }
        return;
    }
    if (m_opener) {
        const auto opened = m_opener->Opened();
        // A device or server that hangs keeps its attempt; no other is started meanwhile.
        if (!opened) {
            if (overdue) TellOnce("the source does not answer");
            return;
        }
        GstElement* source = *opened ? m_opener->Take() : nullptr;
        if (!source) TellOnce(m_opener->Error());
        m_opener.reset();
        if (source) StartPending(source);
        return;
    }
    if (now - m_lastTry >= kRetryPeriod) Open();
}

void FallbackSource::SetEnding()
{
    // A source held at its pad would hold the end of stream up.
    if (m_pending) DropPending();
    m_opener.reset();
    m_joint.SetEnding();
}

// In place of what fed the joint so far. Takes the caller's reference.
void FallbackSource::Feed(GstElement* bin)
{
    Detach();
    if (!bin) return;
    gst_bin_add(m_pipeline, bin);
    gst_object_unref(bin);
    Attach(bin);
    // To where the pipeline is going: a source lost while it starts leaves a stand-in that
    // must play for the pipeline to get there.
    gst_element_sync_state_with_parent(bin);
}

// A source that stops giving media without a word (a device or server that hangs) is lost
// all the same. By the steady clock: the pipeline's may be the hung sound server's.
bool FallbackSource::Stalled(std::chrono::steady_clock::time_point now)
{
    const GstClockTime delivered = m_joint.DeliveredUntil();
    if (delivered != m_lastDelivered) {
        m_lastDelivered = delivered;
        m_deliveredAt = now;
        return false;
    }
    return GST_CLOCK_TIME_IS_VALID(delivered) && now - m_deliveredAt > kStallLimit;
}

void FallbackSource::Attach(GstElement* bin)
{
    m_current = bin;
    m_deliveredAt = std::chrono::steady_clock::now();
    m_feed = m_joint.NewFeed();
    const PadRef pad(gst_element_get_static_pad(bin, "src"));
    gst_pad_link(pad.get(), m_joint.Pad());
}

// What fed the joint is stopped and taken out.
void FallbackSource::Detach()
{
    if (!m_current) return;
    gst_element_set_state(m_current, GST_STATE_NULL);
    gst_bin_remove(m_pipeline, m_current);
    m_current = nullptr;
}

// The source that came back plays beside the stand-in, held at its pad, until it has media.
void FallbackSource::StartPending(GstElement* bin)
{
    m_pendingHasMedia = false;
    gst_bin_add(m_pipeline, bin);
    gst_object_unref(bin);
    m_pending = bin;
    const PadRef pad(gst_element_get_static_pad(bin, "src"));
    m_pendingHold =
        gst_pad_add_probe(pad.get(), static_cast<GstPadProbeType>(GST_PAD_PROBE_TYPE_BLOCK | GST_PAD_PROBE_TYPE_BUFFER),
                          &FallbackSource::OnPendingMedia, this, nullptr);
    gst_element_sync_state_with_parent(bin);
}

GstPadProbeReturn FallbackSource::OnPendingMedia(GstPad*, GstPadProbeInfo*, gpointer self)
{
    auto* fallback = static_cast<FallbackSource*>(self);
    if (!fallback->m_pendingHasMedia.exchange(true)) fallback->Post(kPendingReady, 0);
    return GST_PAD_PROBE_OK;  // held until taken
}

void FallbackSource::TakePending()
{
    GstElement* source = std::exchange(m_pending, nullptr);
    Detach();
    Attach(source);
    const PadRef pad(gst_element_get_static_pad(source, "src"));
    gst_pad_remove_probe(pad.get(), m_pendingHold);
    m_lost = false;
    if (std::exchange(m_told, false)) m_onChange({});
    // The attempts' and the lost source's threads freed their memory into the allocator's
    // per-thread arenas, which keep it; without this each loss and return holds on to more.
    malloc_trim(0);
}

void FallbackSource::DropPending()
{
    GstElement* source = std::exchange(m_pending, nullptr);
    gst_element_set_state(source, GST_STATE_NULL);
    gst_bin_remove(m_pipeline, source);
    m_lastTry = std::chrono::steady_clock::now();
}

GstClockTime FallbackSource::RunningTimeNow() const
{
    std::unique_ptr<GstClock, GstObjectUnref> clock(gst_element_get_clock(GST_ELEMENT(m_pipeline)));
    if (!clock) return 0;
    const GstClockTime now = gst_clock_get_time(clock.get());
    const GstClockTime base = gst_element_get_base_time(GST_ELEMENT(m_pipeline));
    return now > base ? now - base : 0;
}

void FallbackSource::Post(const char* news, std::uint64_t feed)
{
    GstStructure* structure = gst_structure_new(news, "source", G_TYPE_POINTER, this, "feed", G_TYPE_UINT64,
                                                static_cast<guint64>(feed), nullptr);
    gst_element_post_message(GST_ELEMENT(m_pipeline), gst_message_new_application(GST_OBJECT(m_pipeline), structure));
}

}  // namespace castorn
