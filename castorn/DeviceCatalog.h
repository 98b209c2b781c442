// The capture devices offered to the program: cameras and then the screens (X11's, or
// a Wayland desktop's through its portal) for video, microphones and output monitors for audio, as GStreamer's device
// monitor finds them, and the players playing sound. Probed on the watch's own
// thread; a list is the newest findings. A selection is an index into the last
// list given out.
#pragma once

#include "castorn/DeviceWatch.h"
#include "castorn/WideNames.h"
#include "castorn/X11Screens.h"

#include <gst/gst.h>

#include <memory>
#include <string>
#include <variant>
#include <vector>

namespace castorn {

// Nothing selected, a device of the monitor, or a screen.
using CaptureSource = std::variant<std::monostate, SharedDevice, X11Screen, PortalScreen>;

// The name a source is listed under; empty for none.
std::string SourceName(const CaptureSource& source);

class DeviceCatalog {
public:
    DeviceCatalog();  // the first probe, waited for a moment
    void ListVideo(const char16_t*** names, unsigned* count);
    void ListAudio(const char16_t*** names, unsigned* count);
    bool SelectVideo(int index);  // -1 for none; false (and none) when out of range
    bool SelectAudio(int index);
    std::vector<std::string> Players();  // UTF-8 names

    static constexpr std::chrono::milliseconds kFirstProbeLimit{3000};
    // How long a list waits for a new probe before it gives the last one's findings.
    static constexpr std::chrono::milliseconds kProbeLimit{250};

    const CaptureSource& Video() const { return m_video; }
    const CaptureSource& Audio() const { return m_audio; }

private:
    struct Listing {
        std::vector<CaptureSource> sources;
        WideNames names;
        bool listed = false;
    };

    void RefreshVideo();
    void RefreshAudio();
    static void Fill(Listing& listing, const std::vector<SharedDevice>& devices, const std::vector<X11Screen>& screens,
                     const std::vector<PortalScreen>& portalScreens);
    static bool Select(Listing& listing, int index, CaptureSource& selected);

    DeviceWatch m_watch;
    Listing m_videoList;
    Listing m_audioList;
    CaptureSource m_video;
    CaptureSource m_audio;
};

}  // namespace castorn
