#include "castorn/FallbackSource.h"

#include "castorn/GstRef.h"
#include "castorn/LingeringWork.h"

#include <malloc.h>

#include <utility>

namespace castorn {

namespace {

constexpr char kFeedEnded[] = "castorn-feed-ended";
// A source held at its pad has media: it is taken at once rather than at the next Tend.
constexpr char kPendingReady[] = "castorn-pending-ready";
// What fed the joint before a switch is unlinked: the next may feed it.
constexpr char kFeedUnlinked[] = "castorn-feed-unlinked";

// Whether `object` is `element` or inside it.
bool Holds(GstElement* element, GstObject* object)
{
    return element && (object == GST_OBJECT(element) || gst_object_has_as_ancestor(object, GST_OBJECT(element)));
}

GstMessage* News(GstElement* from, const char* news, const void* source, std::uint64_t feed)
{
    GstStructure* structure = gst_structure_new(news, "source", G_TYPE_POINTER, source, "feed", G_TYPE_UINT64,
                                                static_cast<guint64>(feed), nullptr);
    return gst_message_new_application(GST_OBJECT(from), structure);
}

// Holds `bin`'s media at its pad until the probe goes.
gulong Hold(GstElement* bin, GstPadProbeCallback onMedia, gpointer data)
{
    const PadRef pad(gst_element_get_static_pad(bin, "src"));
    return gst_pad_add_probe(pad.get(),
                             static_cast<GstPadProbeType>(GST_PAD_PROBE_TYPE_BLOCK | GST_PAD_PROBE_TYPE_BUFFER),
                             onMedia, data, nullptr);
}

GstPadProbeReturn KeepHolding(GstPad*, GstPadProbeInfo*, gpointer)
{
    return GST_PAD_PROBE_OK;
}

void Unlink(GstPad* pad)
{
    if (const PadRef peer(gst_pad_get_peer(pad)); peer) gst_pad_unlink(pad, peer.get());
}

// Whatever `bin` pushes from now on goes nowhere, without the error an unlinked pad
// would give; its hold, if it has one, is let go.
void Mute(GstElement* bin, gulong hold)
{
    const PadRef pad(gst_element_get_static_pad(bin, "src"));
    gst_pad_add_probe(
        pad.get(), GST_PAD_PROBE_TYPE_DATA_DOWNSTREAM,
        [](GstPad*, GstPadProbeInfo*, gpointer) -> GstPadProbeReturn { return GST_PAD_PROBE_DROP; }, nullptr, nullptr);
    if (hold) gst_pad_remove_probe(pad.get(), hold);
}

}  // namespace

struct FallbackSource::Unlinking {
    const FallbackSource* source;  // names the news; never used on the streaming thread
    std::uint64_t serial;
    std::atomic<bool> done{false};
};

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
    m_onChange(why, m_refused);
}

void FallbackSource::TellOnce(const std::string& why)
{
    if (!m_told && std::chrono::steady_clock::now() >= m_quietUntil) Tell(why);
}

bool FallbackSource::SourceFeeds(GstObject* object) const
{
    return !m_lost && m_source && Holds(Feeding(), object);
}

GstElement* FallbackSource::Feeding() const
{
    return m_unlinking ? m_next : m_current;
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
    const bool unlinked = gst_structure_has_name(news, kFeedUnlinked);
    if (!ended && !unlinked && !gst_structure_has_name(news, kPendingReady)) return false;
    gpointer source = nullptr;
    guint64 feed = 0;
    gst_structure_get(news, "source", G_TYPE_POINTER, &source, "feed", G_TYPE_UINT64, &feed, nullptr);
    if (source != this) return false;
    if (unlinked) {
        // Also when the pipeline ends: the next feed carries the end of stream.
        if (m_unlinking && m_unlinking->serial == feed) FinishSwitch();
        return true;
    }
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
        m_refused = !source && m_opener->Refused();
        // A refusal is the user's own answer: told at once, even in the first quiet moment.
        if (m_refused)
            Tell(m_opener->Error());
        else if (!source)
            TellOnce(m_opener->Error());
        m_opener.reset();
        if (source) StartPending(source);
        return;
    }
    if (!m_refused && now - m_lastTry >= kRetryPeriod) Open();
}

void FallbackSource::SetEnding()
{
    // A source held at its pad would hold the end of stream up.
    if (m_pending) DropPending();
    m_opener.reset();
    // So would the next feed of a switch under way, and it carries the end: it is linked
    // now, beside a push of the feed before that may still be on its way into the joint.
    if (m_unlinking) {
        Unlink(PadRef(gst_element_get_static_pad(m_current, "src")).get());
        FinishSwitch();
    }
    m_joint.SetEnding();
}

void FallbackSource::Withdraw()
{
    if (m_pending) DropPending();
    m_opener.reset();
    SwitchTo(nullptr, 0);
}

// In place of what fed the joint so far. Takes the caller's reference.
void FallbackSource::Feed(GstElement* bin)
{
    gulong hold = 0;
    if (bin) {
        gst_bin_add(m_pipeline, bin);
        gst_object_unref(bin);
        hold = Hold(bin, &KeepHolding, nullptr);
        // To where the pipeline is going: a source lost while it starts leaves a stand-in that
        // must play for the pipeline to get there.
        gst_element_sync_state_with_parent(bin);
    }
    SwitchTo(bin, hold);
}

void FallbackSource::SwitchTo(GstElement* bin, gulong hold)
{
    // One that has not fed yet gives way to a newer one.
    if (m_next) {
        Mute(m_next, m_nextHold);
        Retire(m_next);
    }
    m_next = bin;
    m_nextHold = hold;
    if (m_unlinking) return;  // the feed before is on its way out; the next follows it
    if (m_current) {
        auto unlinking = std::make_shared<Unlinking>(this, ++m_switches);
        Mute(m_current, 0);
        // At once when the pad is idle, else once the push under way has returned.
        const PadRef pad(gst_element_get_static_pad(m_current, "src"));
        gst_pad_add_probe(pad.get(), GST_PAD_PROBE_TYPE_IDLE, &FallbackSource::OnIdle,
                          new std::shared_ptr<Unlinking>(unlinking),
                          [](gpointer data) { delete static_cast<std::shared_ptr<Unlinking>*>(data); });
        if (!unlinking->done) {
            m_unlinking = std::move(unlinking);
            return;
        }
    }
    FinishSwitch();
}

// On the streaming thread of the feed on its way out, or the caller's when it is idle;
// setting its state here would wait for this very thread.
GstPadProbeReturn FallbackSource::OnIdle(GstPad* pad, GstPadProbeInfo*, gpointer data)
{
    const auto& unlinking = *static_cast<std::shared_ptr<Unlinking>*>(data);
    Unlink(pad);
    unlinking->done = true;
    if (const ElementRef bin(gst_pad_get_parent_element(pad)); bin)
        gst_element_post_message(bin.get(), News(bin.get(), kFeedUnlinked, unlinking->source, unlinking->serial));
    return GST_PAD_PROBE_REMOVE;
}

void FallbackSource::FinishSwitch()
{
    m_unlinking.reset();
    if (m_current) Retire(std::exchange(m_current, nullptr));
    if (GstElement* next = std::exchange(m_next, nullptr)) Attach(next, std::exchange(m_nextHold, 0));
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

void FallbackSource::Attach(GstElement* bin, gulong hold)
{
    m_current = bin;
    m_deliveredAt = std::chrono::steady_clock::now();
    m_feed = m_joint.NewFeed();
    const PadRef pad(gst_element_get_static_pad(bin, "src"));
    gst_pad_link(pad.get(), m_joint.Pad());
    gst_pad_remove_probe(pad.get(), hold);
}

void FallbackSource::Retire(GstElement* bin)
{
    gst_object_ref(bin);
    // The pipeline's state changes pass it by from now on.
    gst_element_set_locked_state(bin, TRUE);
    gst_bin_remove(m_pipeline, bin);
    LingeringWork::Start("castorn-retire", [bin] {
        gst_element_set_state(bin, GST_STATE_NULL);
        gst_object_unref(bin);
    });
}

// The source that came back plays beside the stand-in, held at its pad, until it has media.
void FallbackSource::StartPending(GstElement* bin)
{
    m_pendingHasMedia = false;
    gst_bin_add(m_pipeline, bin);
    gst_object_unref(bin);
    m_pending = bin;
    m_pendingHold = Hold(bin, &FallbackSource::OnPendingMedia, this);
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
    SwitchTo(std::exchange(m_pending, nullptr), m_pendingHold);
    m_lost = false;
    if (std::exchange(m_told, false)) m_onChange({}, false);
    // The attempts' and the lost source's threads freed their memory into the allocator's
    // per-thread arenas, which keep it; without this each loss and return holds on to more.
    malloc_trim(0);
}

void FallbackSource::DropPending()
{
    GstElement* source = std::exchange(m_pending, nullptr);
    Mute(source, m_pendingHold);
    Retire(source);
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
    gst_element_post_message(GST_ELEMENT(m_pipeline), News(GST_ELEMENT(m_pipeline), news, this, feed));
}

}  // namespace castorn
