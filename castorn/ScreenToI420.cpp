#include "castorn/ScreenToI420.h"

#include <gst/video/gstvideofilter.h>
#include <gst/video/video.h>
#include <libyuv/convert_from_argb.h>
#include <libyuv/scale_argb.h>

#include <algorithm>
#include <cstring>

namespace castorn {

namespace {

// What libyuv calls ARGB is these bytes in memory on a little-endian machine.
GstStaticPadTemplate screenTemplate = GST_STATIC_PAD_TEMPLATE("sink", GST_PAD_SINK, GST_PAD_ALWAYS,
                                                              GST_STATIC_CAPS(GST_VIDEO_CAPS_MAKE("{ BGRx, BGRA }")));
GstStaticPadTemplate streamTemplate =
    GST_STATIC_PAD_TEMPLATE("src", GST_PAD_SRC, GST_PAD_ALWAYS, GST_STATIC_CAPS(GST_VIDEO_CAPS_MAKE("I420")));
// libyuv's ARGBToI420 computes BT.601 at studio range; the caps say so.
constexpr const char* kColorimetry = "bt601";
constexpr guint8 kBlackLuma = 16;
constexpr guint8 kNeutralChroma = 128;

struct Rect {
    int x, y, width, height;
};

// Where the picture goes in the frame: all of it when the shapes agree, otherwise centred at
// the picture's own aspect with black around it, as videoconvertscale's borders do.
Rect Fit(const GstVideoInfo& in, const GstVideoInfo& out)
{
    // The picture's aspect in the frame's pixels: inWide ÷ inHigh.
    const gint64 inWide = gint64(in.width) * in.par_n * out.par_d;
    const gint64 inHigh = gint64(in.height) * in.par_d * out.par_n;
    if (inWide * out.height == inHigh * out.width) return {0, 0, out.width, out.height};
    if (inWide * out.height > inHigh * out.width) {
        const int height = std::max(2, int(out.width * inHigh / inWide) & ~1);
        return {0, ((out.height - height) / 2) & ~1, out.width, height};
    }
    const int width = std::max(2, int(out.height * inWide / inHigh) & ~1);
    return {((out.width - width) / 2) & ~1, 0, width, out.height};
}

void FillBlack(GstVideoFrame* frame)
{
    for (guint plane = 0; plane < GST_VIDEO_FRAME_N_PLANES(frame); ++plane)
        std::memset(GST_VIDEO_FRAME_PLANE_DATA(frame, plane), plane == 0 ? kBlackLuma : kNeutralChroma,
                    gsize(GST_VIDEO_FRAME_PLANE_STRIDE(frame, plane)) * GST_VIDEO_FRAME_COMP_HEIGHT(frame, plane));
}

struct ScreenToI420 {
    GstVideoFilter parent;
    // The picture scaled to its place in the frame, when it is not at the frame's size.
    guint8* scaled;
    gsize scaledSize;
};

struct ScreenToI420Class {
    GstVideoFilterClass parent;
};

G_DEFINE_TYPE(ScreenToI420, screen_to_i420, GST_TYPE_VIDEO_FILTER)

// Either way only the format, size and shape change; the frame rate and the rest carry over.
GstCaps* TransformCaps(GstBaseTransform*, GstPadDirection direction, GstCaps* caps, GstCaps* filter)
{
    GstCaps* result = gst_caps_new_empty();
    for (guint i = 0; i < gst_caps_get_size(caps); ++i) {
        GstStructure* structure = gst_structure_copy(gst_caps_get_structure(caps, i));
        gst_structure_remove_fields(structure, "format", "colorimetry", "chroma-site", nullptr);
        gst_structure_set(structure, "width", GST_TYPE_INT_RANGE, 1, G_MAXINT, "height", GST_TYPE_INT_RANGE, 1,
                          G_MAXINT, "pixel-aspect-ratio", GST_TYPE_FRACTION_RANGE, 1, G_MAXINT, G_MAXINT, 1, nullptr);
        if (direction == GST_PAD_SINK) {
            gst_structure_set(structure, "format", G_TYPE_STRING, "I420", "colorimetry", G_TYPE_STRING, kColorimetry,
                              nullptr);
        } else {
            GValue formats = G_VALUE_INIT;
            GValue format = G_VALUE_INIT;
            gst_value_list_init(&formats, 2);
            g_value_init(&format, G_TYPE_STRING);
            for (const char* name : {"BGRx", "BGRA"}) {
                g_value_set_string(&format, name);
                gst_value_list_append_value(&formats, &format);
            }
            gst_structure_take_value(structure, "format", &formats);
            g_value_unset(&format);
        }
        result = gst_caps_merge_structure(result, structure);
    }
    if (!filter) return result;
    GstCaps* filtered = gst_caps_intersect_full(filter, result, GST_CAPS_INTERSECT_FIRST);
    gst_caps_unref(result);
    return filtered;
}

GstFlowReturn TransformFrame(GstVideoFilter* filter, GstVideoFrame* in, GstVideoFrame* out)
{
    auto* self = reinterpret_cast<ScreenToI420*>(filter);
    const Rect fit = Fit(filter->in_info, filter->out_info);
    const auto* pixels = static_cast<const guint8*>(GST_VIDEO_FRAME_PLANE_DATA(in, 0));
    int stride = GST_VIDEO_FRAME_PLANE_STRIDE(in, 0);
    if (fit.width != GST_VIDEO_FRAME_WIDTH(in) || fit.height != GST_VIDEO_FRAME_HEIGHT(in)) {
        const gsize size = gsize(fit.width) * fit.height * 4;
        if (size > self->scaledSize) {
            self->scaled = static_cast<guint8*>(g_realloc(self->scaled, size));
            self->scaledSize = size;
        }
        libyuv::ARGBScale(pixels, stride, GST_VIDEO_FRAME_WIDTH(in), GST_VIDEO_FRAME_HEIGHT(in), self->scaled,
                          fit.width * 4, fit.width, fit.height, libyuv::kFilterBox);
        pixels = self->scaled;
        stride = fit.width * 4;
    }
    if (fit.width != GST_VIDEO_FRAME_WIDTH(out) || fit.height != GST_VIDEO_FRAME_HEIGHT(out)) FillBlack(out);
    auto plane = [out, &fit](guint index, int shift) {
        const int stride = GST_VIDEO_FRAME_PLANE_STRIDE(out, index);
        return static_cast<guint8*>(GST_VIDEO_FRAME_PLANE_DATA(out, index)) + (fit.y >> shift) * stride +
               (fit.x >> shift);
    };
    libyuv::ARGBToI420(pixels, stride, plane(0, 0), GST_VIDEO_FRAME_PLANE_STRIDE(out, 0), plane(1, 1),
                       GST_VIDEO_FRAME_PLANE_STRIDE(out, 1), plane(2, 1), GST_VIDEO_FRAME_PLANE_STRIDE(out, 2),
                       fit.width, fit.height);
    return GST_FLOW_OK;
}

void Finalize(GObject* object)
{
    g_free(reinterpret_cast<ScreenToI420*>(object)->scaled);
    G_OBJECT_CLASS(screen_to_i420_parent_class)->finalize(object);
}

void screen_to_i420_class_init(ScreenToI420Class* klass)
{
    G_OBJECT_CLASS(klass)->finalize = Finalize;
    auto* element = GST_ELEMENT_CLASS(klass);
    gst_element_class_add_static_pad_template(element, &screenTemplate);
    gst_element_class_add_static_pad_template(element, &streamTemplate);
    gst_element_class_set_static_metadata(element, "Screen to I420", "Filter/Converter/Video/Scaler",
                                          "A screen's 32-bit pixels to I420 at the stream's size", "castorn");
    GST_BASE_TRANSFORM_CLASS(klass)->transform_caps = TransformCaps;
    GST_VIDEO_FILTER_CLASS(klass)->transform_frame = TransformFrame;
}

void screen_to_i420_init(ScreenToI420* self)
{
    self->scaled = nullptr;
    self->scaledSize = 0;
}

}  // namespace

void RegisterScreenToI420()
{
    gst_element_register(nullptr, kScreenToI420, GST_RANK_NONE, screen_to_i420_get_type());
}

}  // namespace castorn
