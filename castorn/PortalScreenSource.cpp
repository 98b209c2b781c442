#include "castorn/PortalScreenSource.h"

#include "castorn/PortalScreenCast.h"

#include <gst/gst.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <utility>

namespace castorn {

namespace {

enum Property { kPropertyKeepalive = 1 };

struct PortalScreenSource {
    GstBin parent;
    GstPad* src;             // a ghost of the PipeWire source's, once there is one
    guint keepalive;         // ms; 0: none
    PortalScreenCast* cast;  // from READY to NULL
    GstElement* pipewire;    // the same
    int fd;
    GstClockTime lastPts;  // of the last frame given, on the streaming thread
    gint64 lastFrameAt;    // monotonic µs, under the object lock
    gboolean silenceTold;  // the same
    GstClockID watch;      // while playing
};

// The PipeWire source repeats its last frame every frame's time while its stream lasts;
// when the desktop's cast goes (its backend gone, the output gone) the stream is only
// disconnected, without a word. This long without a frame, the cast has gone.
constexpr gint64 kCastSilenceUs = 1000000;
constexpr GstClockTime kWatchPeriod = 200 * GST_MSECOND;

struct PortalScreenSourceClass {
    GstBinClass parent;
};

G_DEFINE_TYPE(PortalScreenSource, portal_screen_source, GST_TYPE_BIN)

PortalScreenSource* Self(gpointer object)
{
    return reinterpret_cast<PortalScreenSource*>(object);
}

void SetProperty(GObject* object, guint id, const GValue* value, GParamSpec* spec)
{
    if (id != kPropertyKeepalive) {
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, spec);
        return;
    }
    Self(object)->keepalive = g_value_get_uint(value);
}

void GetProperty(GObject* object, guint id, GValue* value, GParamSpec* spec)
{
    if (id != kPropertyKeepalive) {
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, spec);
        return;
    }
    g_value_set_uint(value, Self(object)->keepalive);
}

// What the desktop's bus thread may reach once the element may be gone.
std::function<void()> ClosedHandler(PortalScreenSource* self)
{
    std::shared_ptr<GWeakRef> element(new GWeakRef, [](GWeakRef* weak) {
        g_weak_ref_clear(weak);
        delete weak;
    });
    g_weak_ref_init(element.get(), self);
    return [element] {
        auto* source = static_cast<GstElement*>(g_weak_ref_get(element.get()));
        if (!source) return;
        GST_ELEMENT_ERROR(source, RESOURCE, READ, ("the desktop ended the screen cast"), (nullptr));
        gst_object_unref(source);
    };
}

void Close(PortalScreenSource* self)
{
    if (self->pipewire) {
        gst_ghost_pad_set_target(GST_GHOST_PAD(self->src), nullptr);
        gst_element_set_state(self->pipewire, GST_STATE_NULL);
        gst_bin_remove(GST_BIN(self), self->pipewire);
        self->pipewire = nullptr;
    }
    delete self->cast;
    self->cast = nullptr;
    if (self->fd >= 0) close(self->fd);
    self->fd = -1;
}

// Each frame is stamped with the running time it is given at, as the X screen's are:
// pipewiresrc 0.3.65 takes the base time off its repeated frame twice (which puts it at
// 0), and stamps the frames it gets before the bin plays against no base time at all.
GstPadProbeReturn Restamp(GstPad*, GstPadProbeInfo* info, gpointer data)
{
    PortalScreenSource* self = Self(data);
    GstClock* clock = gst_element_get_clock(GST_ELEMENT(self));
    if (!clock) return GST_PAD_PROBE_DROP;
    const GstClockTime now = gst_clock_get_time(clock);
    gst_object_unref(clock);
    const GstClockTime base = gst_element_get_base_time(GST_ELEMENT(self));
    if (now < base) return GST_PAD_PROBE_DROP;
    const GstClockTime at = now - base;
    if (GST_CLOCK_TIME_IS_VALID(self->lastPts) && at <= self->lastPts) return GST_PAD_PROBE_DROP;
    GST_OBJECT_LOCK(self);
    self->lastFrameAt = g_get_monotonic_time();
    GST_OBJECT_UNLOCK(self);
    GstBuffer* buffer = gst_buffer_make_writable(GST_PAD_PROBE_INFO_BUFFER(info));
    GST_BUFFER_PTS(buffer) = at;
    GST_BUFFER_DTS(buffer) = GST_CLOCK_TIME_NONE;
    GST_BUFFER_DURATION(buffer) = GST_CLOCK_TIME_NONE;
    GST_PAD_PROBE_INFO_DATA(info) = buffer;
    self->lastPts = at;
    return GST_PAD_PROBE_OK;
}

bool Open(PortalScreenSource* self)
{
    self->lastPts = GST_CLOCK_TIME_NONE;
    self->cast = new PortalScreenCast();
    const PortalScreenCast::Outcome outcome = self->cast->Start(ClosedHandler(self));
    if (outcome == PortalScreenCast::Outcome::Refused) {
        GST_ELEMENT_ERROR(self, RESOURCE, NOT_AUTHORIZED, ("screen sharing was refused"),
                          ("%s", self->cast->Error().c_str()));
        return false;
    }
    if (outcome == PortalScreenCast::Outcome::Started) self->fd = self->cast->OpenPipeWireRemote();
    if (self->fd < 0) {
        GST_ELEMENT_ERROR(self, RESOURCE, OPEN_READ, ("%s", self->cast->Error().c_str()), (nullptr));
        return false;
    }
    GstElement* pipewire = gst_element_factory_make("pipewiresrc", nullptr);
    if (!pipewire) {
        GST_ELEMENT_ERROR(self, CORE, MISSING_PLUGIN, ("GStreamer element \"pipewiresrc\" is not installed"),
                          (nullptr));
        return false;
    }
    const std::string node = std::to_string(self->cast->Node());
    // Copies: the frames stay in the stream's queues longer than PipeWire lends its buffers.
    g_object_set(pipewire, "fd", self->fd, "path", node.c_str(), "always-copy", TRUE, "keepalive-time",
                 static_cast<gint>(self->keepalive), nullptr);
    // The system clock times the whole pipeline.
    GST_OBJECT_FLAG_UNSET(pipewire, GST_ELEMENT_FLAG_PROVIDE_CLOCK);
    gst_bin_add(GST_BIN(self), pipewire);
    self->pipewire = pipewire;
    GstPad* pad = gst_element_get_static_pad(pipewire, "src");
    // What follows takes any size, and the source's caps never need to change: a new
    // negotiation would disconnect the PipeWire stream, and the desktop's cast does not
    // always come back from that (xdg-desktop-portal-wlr 0.7 sends nothing more). Linking
    // the bin into the running pipeline asks for one all the same.
    gst_pad_add_probe(
        pad, GST_PAD_PROBE_TYPE_EVENT_UPSTREAM,
        [](GstPad*, GstPadProbeInfo* info, gpointer) {
            return GST_EVENT_TYPE(GST_PAD_PROBE_INFO_EVENT(info)) == GST_EVENT_RECONFIGURE ? GST_PAD_PROBE_DROP
                                                                                           : GST_PAD_PROBE_OK;
        },
        nullptr, nullptr);
    gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_BUFFER, &Restamp, self, nullptr);
    gst_ghost_pad_set_target(GST_GHOST_PAD(self->src), pad);
    gst_object_unref(pad);
    return true;
}

gboolean OnWatch(GstClock*, GstClockTime, GstClockID, gpointer data)
{
    PortalScreenSource* self = Self(data);
    GST_OBJECT_LOCK(self);
    const bool silent = !self->silenceTold && g_get_monotonic_time() - self->lastFrameAt > kCastSilenceUs;
    if (silent) self->silenceTold = TRUE;
    GST_OBJECT_UNLOCK(self);
    if (silent) GST_ELEMENT_ERROR(self, RESOURCE, READ, ("the desktop's screen cast stopped"), (nullptr));
    return TRUE;
}

void StartWatch(PortalScreenSource* self)
{
    GstClock* clock = gst_system_clock_obtain();
    GST_OBJECT_LOCK(self);
    self->lastFrameAt = g_get_monotonic_time();
    self->silenceTold = FALSE;
    self->watch = gst_clock_new_periodic_id(clock, gst_clock_get_time(clock) + kWatchPeriod, kWatchPeriod);
    gst_clock_id_wait_async(self->watch, &OnWatch, gst_object_ref(self), gst_object_unref);
    GST_OBJECT_UNLOCK(self);
    gst_object_unref(clock);
}

void StopWatch(PortalScreenSource* self)
{
    GST_OBJECT_LOCK(self);
    GstClockID watch = std::exchange(self->watch, nullptr);
    GST_OBJECT_UNLOCK(self);
    if (!watch) return;
    gst_clock_id_unschedule(watch);
    gst_clock_id_unref(watch);
}

GstStateChangeReturn ChangeState(GstElement* element, GstStateChange transition)
{
    PortalScreenSource* self = Self(element);
    if (transition == GST_STATE_CHANGE_PLAYING_TO_PAUSED) StopWatch(self);
    if (transition == GST_STATE_CHANGE_NULL_TO_READY && !Open(self)) {
        Close(self);
        return GST_STATE_CHANGE_FAILURE;
    }
    const GstStateChangeReturn result =
        GST_ELEMENT_CLASS(portal_screen_source_parent_class)->change_state(element, transition);
    if (transition == GST_STATE_CHANGE_READY_TO_NULL ||
        (transition == GST_STATE_CHANGE_NULL_TO_READY && result == GST_STATE_CHANGE_FAILURE))
        Close(self);
    if (transition == GST_STATE_CHANGE_PAUSED_TO_PLAYING && result != GST_STATE_CHANGE_FAILURE) StartWatch(self);
    return result;
}

void Dispose(GObject* object)
{
    StopWatch(Self(object));
    Close(Self(object));
    G_OBJECT_CLASS(portal_screen_source_parent_class)->dispose(object);
}

void portal_screen_source_class_init(PortalScreenSourceClass* klass)
{
    auto* object = G_OBJECT_CLASS(klass);
    object->set_property = SetProperty;
    object->get_property = GetProperty;
    object->dispose = Dispose;
    g_object_class_install_property(
        object, kPropertyKeepalive,
        g_param_spec_uint("keepalive-time", "Keepalive",
                          "The last frame again after this many ms without one (0: never)", 0, G_MAXUINT, 0,
                          static_cast<GParamFlags>(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS)));
    auto* element = GST_ELEMENT_CLASS(klass);
    gst_element_class_set_static_metadata(element, "Portal screen", "Source/Video",
                                          "A Wayland desktop's screen, through its ScreenCast portal", "castorn");
    element->change_state = ChangeState;
}

void portal_screen_source_init(PortalScreenSource* self)
{
    self->src = gst_ghost_pad_new_no_target("src", GST_PAD_SRC);
    gst_element_add_pad(GST_ELEMENT(self), self->src);
    // A source from the start, though its PipeWire source comes only when it opens: the
    // bins it goes into count their sources as they are built, and an end of stream is
    // sent to those alone.
    GST_OBJECT_FLAG_SET(self, GST_ELEMENT_FLAG_SOURCE);
    self->keepalive = 0;
    self->cast = nullptr;
    self->pipewire = nullptr;
    self->fd = -1;
    self->lastPts = GST_CLOCK_TIME_NONE;
    self->lastFrameAt = 0;
    self->silenceTold = FALSE;
    self->watch = nullptr;
}

}  // namespace

bool PortalScreenOffered()
{
    const char* display = std::getenv("WAYLAND_DISPLAY");
    return display && *display;
}

void RegisterPortalScreenSource()
{
    gst_element_register(nullptr, kPortalScreenSource, GST_RANK_NONE, portal_screen_source_get_type());
}

}  // namespace castorn
