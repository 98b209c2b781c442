#include "castorn/DeviceCatalog.h"

#include "castorn/GstRef.h"

#include <string>

namespace castorn {

namespace {

std::string DeviceName(const SharedDevice& device)
{
    const GText name(gst_device_get_display_name(device.get()));
    return name ? name.get() : "";
}

std::string ScreenName(const X11Screen& screen)
{
    return "Screen " + screen.display + " (" + std::to_string(screen.width) + "x" + std::to_string(screen.height) + ")";
}

struct SourceNamer {
    std::string operator()(std::monostate) const { return {}; }
    std::string operator()(const SharedDevice& device) const { return DeviceName(device); }
    std::string operator()(const X11Screen& screen) const { return ScreenName(screen); }
    std::string operator()(const PortalScreen&) const { return kPortalScreenName; }
};

}  // namespace

std::string SourceName(const CaptureSource& source)
{
    return std::visit(SourceNamer(), source);
}

DeviceCatalog::DeviceCatalog() : m_watch(kFirstProbeLimit) {}

void DeviceCatalog::Fill(Listing& listing, const std::vector<SharedDevice>& devices,
                         const std::vector<X11Screen>& screens, const std::vector<PortalScreen>& portalScreens)
{
    listing.sources.clear();
    listing.sources.insert(listing.sources.end(), devices.begin(), devices.end());
    listing.sources.insert(listing.sources.end(), screens.begin(), screens.end());
    listing.sources.insert(listing.sources.end(), portalScreens.begin(), portalScreens.end());
    std::vector<std::string> names;
    for (const auto& source : listing.sources) names.push_back(SourceName(source));
    listing.names.Assign(names);
    listing.listed = true;
}

void DeviceCatalog::RefreshVideo()
{
    const auto found = m_watch.Fresh(kProbeLimit);
    Fill(m_videoList, found->cameras, found->screens, found->portalScreens);
}

void DeviceCatalog::RefreshAudio()
{
    Fill(m_audioList, m_watch.Fresh(kProbeLimit)->microphones, {}, {});
}

void DeviceCatalog::ListVideo(const char16_t*** names, unsigned* count)
{
    RefreshVideo();
    m_videoList.names.Expose(names, count);
}

void DeviceCatalog::ListAudio(const char16_t*** names, unsigned* count)
{
    RefreshAudio();
    m_audioList.names.Expose(names, count);
}

bool DeviceCatalog::SelectVideo(int index)
{
    if (index >= 0 && !m_videoList.listed) RefreshVideo();
    return Select(m_videoList, index, m_video);
}

bool DeviceCatalog::SelectAudio(int index)
{
    if (index >= 0 && !m_audioList.listed) RefreshAudio();
    return Select(m_audioList, index, m_audio);
}

std::vector<std::string> DeviceCatalog::Players()
{
    return m_watch.Fresh(kProbeLimit)->players;
}

bool DeviceCatalog::Select(Listing& listing, int index, CaptureSource& selected)
{
    const bool valid = index >= -1 && index < static_cast<int>(listing.sources.size());
    selected = (valid && index >= 0) ? listing.sources[static_cast<std::size_t>(index)] : CaptureSource();
    return valid;
}

}  // namespace castorn
