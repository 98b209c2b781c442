// Owning pointers for GStreamer and GLib objects, so that every early return
// gives its references back.
#pragma once

#include <gst/gst.h>

#include <memory>

namespace castorn {

struct GstObjectUnref {
    void operator()(gpointer object) const { gst_object_unref(object); }
};
struct GstMessageUnref {
    void operator()(GstMessage* message) const { gst_message_unref(message); }
};
struct GstEventUnref {
    void operator()(GstEvent* event) const { gst_event_unref(event); }
};
struct GstCapsUnref {
    void operator()(GstCaps* caps) const { gst_caps_unref(caps); }
};
struct GstStructureFree {
    void operator()(GstStructure* structure) const { gst_structure_free(structure); }
};
struct GFreeText {
    void operator()(gchar* text) const { g_free(text); }
};

using ElementRef = std::unique_ptr<GstElement, GstObjectUnref>;
using BusRef = std::unique_ptr<GstBus, GstObjectUnref>;
using DeviceRef = std::unique_ptr<GstDevice, GstObjectUnref>;
using PadRef = std::unique_ptr<GstPad, GstObjectUnref>;
using EventRef = std::unique_ptr<GstEvent, GstEventUnref>;
using CapsRef = std::unique_ptr<GstCaps, GstCapsUnref>;
using StructureRef = std::unique_ptr<GstStructure, GstStructureFree>;
using GText = std::unique_ptr<gchar, GFreeText>;

}  // namespace castorn
