#include "castorn/GstRuntime.h"

#include "castorn/PortalScreenSource.h"
#include "castorn/ScreenSource.h"
#include "castorn/ScreenToI420.h"

#include <gst/gst.h>

namespace castorn {

bool InitGstreamer(std::string& why)
{
    // The host program has a crash handler of its own: GStreamer must not swap it out,
    // even for a moment, while it loads plugins.
    gst_segtrap_set_enabled(FALSE);
    GError* error = nullptr;
    if (gst_init_check(nullptr, nullptr, &error)) {
        RegisterScreenSource();
        RegisterPortalScreenSource();
        RegisterScreenToI420();
        return true;
    }
    why = error ? error->message : "GStreamer did not initialise";
    g_clear_error(&error);
    return false;
}

void PreloadPlugins()
{
    static constexpr const char* kFactories[] = {"videotestsrc", "videorate",    "videoconvertscale", "tee",
                                                 "queue",        "x264enc",      "capsfilter",        "flvmux",
                                                 "appsink",      "appsrc",       "rtmp2sink",         "audiotestsrc",
                                                 "pulsesrc",     "audioconvert", "audioresample",     "volume",
                                                 "level",        "audiomixer",   "voaacenc"};
    // Making one of each loads its plugin and initialises its class.
    for (const char* name : kFactories)
        if (GstElement* element = gst_element_factory_make(name, nullptr))
            gst_object_unref(gst_object_ref_sink(element));
}

}  // namespace castorn
