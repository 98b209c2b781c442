// The capture devices offered to the program: cameras and then X11 screens for
// video, microphones and output monitors for audio, as GStreamer's device
// monitor finds them. A selection is an index into the last list given out.
#pragma once

#include "castorn/WideNames.h"
#include "castorn/X11Screens.h"

#include <gst/gst.h>

#include <memory>
#include <string>
#include <variant>
#include <vector>

namespace castorn {

using SharedDevice = std::shared_ptr<GstDevice>;
// Nothing selected, a device of the monitor, or a screen.
using CaptureSource = std::variant<std::monostate, SharedDevice, X11Screen>;

// The name a source is listed under; empty for none.
std::string SourceName(const CaptureSource& source);

class DeviceCatalog {
public:
    void ListVideo(const char16_t*** names, unsigned* count);
    void ListAudio(const char16_t*** names, unsigned* count);
    bool SelectVideo(int index);  // -1 for none; false (and none) when out of range
    bool SelectAudio(int index);

    const CaptureSource& Video() const { return m_video; }
    const CaptureSource& Audio() const { return m_audio; }

private:
    struct Listing {
        std::vector<CaptureSource> sources;
        WideNames names;
        bool listed = false;
    };

    static void Refresh(Listing& listing, const char* classes, bool withScreens);
    static bool Select(Listing& listing, int index, CaptureSource& selected);

    Listing m_videoList;
    Listing m_audioList;
    CaptureSource m_video;
    CaptureSource m_audio;
};

}  // namespace castorn
