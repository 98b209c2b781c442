#include "castorn/ScreenSource.h"

#include "castorn/ScreenGrabber.h"

#include <gst/base/gstpushsrc.h>
#include <gst/video/video.h>

namespace castorn {

namespace {

GstStaticPadTemplate srcTemplate =
    GST_STATIC_PAD_TEMPLATE("src", GST_PAD_SRC, GST_PAD_ALWAYS, GST_STATIC_CAPS(GST_VIDEO_CAPS_MAKE("BGRx")));

constexpr int kDefaultFps = 30;

enum Property { kPropertyDisplayName = 1 };

struct ScreenSource {
    GstPushSrc parent;
    gchar* displayName;
    ScreenGrabber* grabber;  // from start to stop
    GstClockTime frameDuration;
    guint64 lastFrame;  // numbered from the running time's start; G_MAXUINT64 before the first
    GstClockID wait;    // the wait for the next frame, under the object lock
    gboolean flushing;
    gboolean grabbing;  // a grab waits on the server, under the object lock
    // Frames are drawn into buffers used again once the encoder is done with them: a new
    // frame-sized allocation each time is a fresh mapping, and page faults, every frame.
    GstBufferPool* pool;  // from the caps to stop
};

struct ScreenSourceClass {
    GstPushSrcClass parent;
};

G_DEFINE_TYPE(ScreenSource, screen_source, GST_TYPE_PUSH_SRC)

ScreenSource* Self(gpointer object)
{
    return reinterpret_cast<ScreenSource*>(object);
}

void SetProperty(GObject* object, guint id, const GValue* value, GParamSpec* spec)
{
    if (id != kPropertyDisplayName) {
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, spec);
        return;
    }
    g_free(Self(object)->displayName);
    Self(object)->displayName = g_value_dup_string(value);
}

void GetProperty(GObject* object, guint id, GValue* value, GParamSpec* spec)
{
    if (id != kPropertyDisplayName) {
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, spec);
        return;
    }
    g_value_set_string(value, Self(object)->displayName);
}

gboolean Start(GstBaseSrc* source)
{
    ScreenSource* self = Self(source);
    auto* grabber = new ScreenGrabber(self->displayName ? self->displayName : "");
    if (!grabber->Ok()) {
        GST_ELEMENT_ERROR(self, RESOURCE, OPEN_READ, ("%s", grabber->Error().c_str()), (nullptr));
        delete grabber;
        return FALSE;
    }
    self->grabber = grabber;
    self->lastFrame = G_MAXUINT64;
    return TRUE;
}

void DropPool(ScreenSource* self)
{
    if (!self->pool) return;
    gst_buffer_pool_set_active(self->pool, FALSE);
    gst_object_unref(self->pool);
    self->pool = nullptr;
}

gboolean Stop(GstBaseSrc* source)
{
    DropPool(Self(source));
    delete Self(source)->grabber;
    Self(source)->grabber = nullptr;
    return TRUE;
}

GstCaps* GetCaps(GstBaseSrc* source, GstCaps* filter)
{
    const ScreenGrabber* grabber = Self(source)->grabber;
    if (!grabber) return gst_pad_get_pad_template_caps(GST_BASE_SRC_PAD(source));
    GstCaps* caps = gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, "BGRx", "width", G_TYPE_INT,
                                        grabber->Width(), "height", G_TYPE_INT, grabber->Height(),
                                        "pixel-aspect-ratio", GST_TYPE_FRACTION, 1, 1, "framerate",
                                        GST_TYPE_FRACTION_RANGE, 1, 1, G_MAXINT, 1, nullptr);
    if (!filter) return caps;
    GstCaps* filtered = gst_caps_intersect_full(filter, caps, GST_CAPS_INTERSECT_FIRST);
    gst_caps_unref(caps);
    return filtered;
}

GstCaps* Fixate(GstBaseSrc* source, GstCaps* caps)
{
    caps = gst_caps_make_writable(caps);
    gst_structure_fixate_field_nearest_fraction(gst_caps_get_structure(caps, 0), "framerate", kDefaultFps, 1);
    return GST_BASE_SRC_CLASS(screen_source_parent_class)->fixate(source, caps);
}

gboolean SetCaps(GstBaseSrc* source, GstCaps* caps)
{
    GstVideoInfo info;
    if (!gst_video_info_from_caps(&info, caps) || info.fps_n <= 0) return FALSE;
    ScreenSource* self = Self(source);
    self->frameDuration = gst_util_uint64_scale_int(GST_SECOND, info.fps_d, info.fps_n);
    DropPool(self);
    self->pool = gst_buffer_pool_new();
    GstStructure* config = gst_buffer_pool_get_config(self->pool);
    // The encoder's queue holds a few; more are made when it holds more.
    constexpr guint kFramesKept = 4;
    gst_buffer_pool_config_set_params(config, caps, static_cast<guint>(info.size), kFramesKept, 0);
    return gst_buffer_pool_set_config(self->pool, config) && gst_buffer_pool_set_active(self->pool, TRUE);
}

gboolean Unlock(GstBaseSrc* source)
{
    ScreenSource* self = Self(source);
    GST_OBJECT_LOCK(self);
    self->flushing = TRUE;
    if (self->wait) gst_clock_id_unschedule(self->wait);
    // A server that does not answer would hold the grab, and with it the stop, for good.
    if (self->grabbing) self->grabber->Interrupt();
    GST_OBJECT_UNLOCK(self);
    return TRUE;
}

gboolean UnlockStop(GstBaseSrc* source)
{
    GST_OBJECT_LOCK(source);
    Self(source)->flushing = FALSE;
    GST_OBJECT_UNLOCK(source);
    return TRUE;
}

// Waits for the next frame's time on the pipeline clock; its running time, or NONE when
// the wait was cut short.
GstClockTime WaitForNextFrame(ScreenSource* self)
{
    GstClock* clock = gst_element_get_clock(GST_ELEMENT(self));
    if (!clock) return GST_CLOCK_TIME_NONE;
    const GstClockTime base = gst_element_get_base_time(GST_ELEMENT(self));
    const GstClockTime now = gst_clock_get_time(clock) - base;
    // The next frame boundary; one that was already grabbed is skipped.
    guint64 frame = gst_util_uint64_scale_ceil(now, 1, self->frameDuration);
    if (self->lastFrame != G_MAXUINT64 && frame <= self->lastFrame) frame = self->lastFrame + 1;
    const GstClockTime at = frame * self->frameDuration;
    GstClockReturn waited = GST_CLOCK_UNSCHEDULED;
    GST_OBJECT_LOCK(self);
    if (!self->flushing) {
        self->wait = gst_clock_new_single_shot_id(clock, base + at);
        GST_OBJECT_UNLOCK(self);
        waited = gst_clock_id_wait(self->wait, nullptr);
        GST_OBJECT_LOCK(self);
        gst_clock_id_unref(self->wait);
        self->wait = nullptr;
    }
    GST_OBJECT_UNLOCK(self);
    gst_object_unref(clock);
    if (waited == GST_CLOCK_UNSCHEDULED) return GST_CLOCK_TIME_NONE;
    self->lastFrame = frame;
    return at;
}

GstFlowReturn Create(GstPushSrc* source, GstBuffer** out)
{
    ScreenSource* self = Self(source);
    const GstClockTime at = WaitForNextFrame(self);
    if (!GST_CLOCK_TIME_IS_VALID(at)) return GST_FLOW_FLUSHING;
    ScreenGrabber& grabber = *self->grabber;
    GST_OBJECT_LOCK(self);
    self->grabbing = !self->flushing;
    GST_OBJECT_UNLOCK(self);
    if (!self->grabbing) return GST_FLOW_FLUSHING;
    GstBuffer* buffer = nullptr;
    if (gst_buffer_pool_acquire_buffer(self->pool, &buffer, nullptr) != GST_FLOW_OK) {
        GST_OBJECT_LOCK(self);
        self->grabbing = FALSE;
        GST_OBJECT_UNLOCK(self);
        return GST_FLOW_FLUSHING;
    }
    GstMapInfo map;
    gst_buffer_map(buffer, &map, GST_MAP_WRITE);
    const bool grabbed = grabber.Grab(map.data);
    gst_buffer_unmap(buffer, &map);
    GST_OBJECT_LOCK(self);
    self->grabbing = FALSE;
    const bool interrupted = self->flushing;
    GST_OBJECT_UNLOCK(self);
    if (!grabbed && interrupted) {
        gst_buffer_unref(buffer);
        return GST_FLOW_FLUSHING;
    }
    if (!grabbed) {
        gst_buffer_unref(buffer);
        GST_ELEMENT_ERROR(self, RESOURCE, READ, ("%s", grabber.Error().c_str()), (nullptr));
        return GST_FLOW_ERROR;
    }
    GST_BUFFER_PTS(buffer) = at;
    GST_BUFFER_DURATION(buffer) = self->frameDuration;
    *out = buffer;
    return GST_FLOW_OK;
}

void Finalize(GObject* object)
{
    g_free(Self(object)->displayName);
    G_OBJECT_CLASS(screen_source_parent_class)->finalize(object);
}

void screen_source_class_init(ScreenSourceClass* klass)
{
    auto* object = G_OBJECT_CLASS(klass);
    object->set_property = SetProperty;
    object->get_property = GetProperty;
    object->finalize = Finalize;
    g_object_class_install_property(
        object, kPropertyDisplayName,
        g_param_spec_string("display-name", "Display", "The X display and screen, as in $DISPLAY", nullptr,
                            static_cast<GParamFlags>(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS)));
    auto* element = GST_ELEMENT_CLASS(klass);
    gst_element_class_add_static_pad_template(element, &srcTemplate);
    gst_element_class_set_static_metadata(element, "X screen", "Source/Video", "An X screen's pixels, live",
                                          "castorn");
    auto* base = GST_BASE_SRC_CLASS(klass);
    base->start = Start;
    base->stop = Stop;
    base->get_caps = GetCaps;
    base->fixate = Fixate;
    base->set_caps = SetCaps;
    base->unlock = Unlock;
    base->unlock_stop = UnlockStop;
    GST_PUSH_SRC_CLASS(klass)->create = Create;
}

void screen_source_init(ScreenSource* self)
{
    self->displayName = nullptr;
    self->grabber = nullptr;
    self->frameDuration = GST_SECOND / kDefaultFps;
    self->lastFrame = G_MAXUINT64;
    self->wait = nullptr;
    self->pool = nullptr;
    self->flushing = FALSE;
    gst_base_src_set_live(GST_BASE_SRC(self), TRUE);
    gst_base_src_set_format(GST_BASE_SRC(self), GST_FORMAT_TIME);
}

}  // namespace

void RegisterScreenSource()
{
    gst_element_register(nullptr, kScreenSource, GST_RANK_NONE, screen_source_get_type());
}

}  // namespace castorn
