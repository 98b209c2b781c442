#include "castorn/PinnedRecording.h"

#include "castorn/GstRef.h"

namespace castorn {

namespace {

GstPadProbeReturn DropAll(GstPad*, GstPadProbeInfo*, gpointer)
{
    return GST_PAD_PROBE_DROP;
}

// Told on the recorder's streaming thread before the first read after any change of
// its stream on the server, a move among them.
void OnStreamChange(GstElement* recorder, GParamSpec*, gpointer)
{
    gchar* wanted = nullptr;
    gchar* current = nullptr;
    g_object_get(recorder, "device", &wanted, "current-device", &current, nullptr);
    const GText wantedText(wanted);
    const GText currentText(current);
    if (!current || !*current || g_strcmp0(wanted, current) == 0) return;
    g_signal_handlers_disconnect_by_func(recorder, reinterpret_cast<gpointer>(&OnStreamChange), nullptr);
    // Not a sample of the other source reaches the stream while the error travels.
    const PadRef pad(gst_element_get_static_pad(recorder, "src"));
    gst_pad_add_probe(pad.get(), static_cast<GstPadProbeType>(GST_PAD_PROBE_TYPE_BUFFER | GST_PAD_PROBE_TYPE_BUFFER_LIST),
                      &DropAll, nullptr, nullptr);
    GST_ELEMENT_ERROR(recorder, RESOURCE, NOT_FOUND, ("the source %s went away", wanted),
                      ("the sound server moved the recording to %s", current));
}

}  // namespace

void PinRecording(GstElement* recorder)
{
    // PipeWire's session manager then links the recording to its own source only, and
    // ends it when that source goes.
    GstStructure* given = nullptr;
    g_object_get(recorder, "stream-properties", &given, nullptr);
    const StructureRef properties(given ? given : gst_structure_new_empty("properties"));
    gst_structure_set(properties.get(), "node.dont-reconnect", G_TYPE_STRING, "true", nullptr);
    g_object_set(recorder, "stream-properties", properties.get(), nullptr);
    // PulseAudio has no such wish for a recording: it is caught where it was moved.
    g_signal_connect(recorder, "notify::current-device", G_CALLBACK(&OnStreamChange), nullptr);
}

}  // namespace castorn
