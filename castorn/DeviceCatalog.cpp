#include "castorn/DeviceCatalog.h"

#include "castorn/GstRef.h"

#include <string>

namespace castorn {

namespace {

constexpr char kVideoClasses[] = "Video/Source";
constexpr char kAudioClasses[] = "Audio/Source";

std::vector<SharedDevice> MonitorDevices(const char* classes)
{
    std::vector<SharedDevice> devices;
    std::unique_ptr<GstDeviceMonitor, GstObjectUnref> monitor(gst_device_monitor_new());
    gst_device_monitor_add_filter(monitor.get(), classes, nullptr);
    GList* found = gst_device_monitor_get_devices(monitor.get());
    for (GList* item = found; item; item = item->next) devices.emplace_back(GST_DEVICE(item->data), GstObjectUnref());
    g_list_free(found);  // the references now belong to `devices`
    return devices;
}

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
};

}  // namespace

std::string SourceName(const CaptureSource& source)
{
    return std::visit(SourceNamer(), source);
}

void DeviceCatalog::Refresh(Listing& listing, const char* classes, bool withScreens)
{
    std::vector<std::string> names;
    listing.sources.clear();
    for (auto& device : MonitorDevices(classes)) {
        names.push_back(DeviceName(device));
        listing.sources.emplace_back(std::move(device));
    }
    for (auto& screen : withScreens ? ListX11Screens() : std::vector<X11Screen>()) {
        names.push_back(ScreenName(screen));
        listing.sources.emplace_back(std::move(screen));
    }
    listing.names.Assign(names);
    listing.listed = true;
}

void DeviceCatalog::ListVideo(const char16_t*** names, unsigned* count)
{
    Refresh(m_videoList, kVideoClasses, true);
    m_videoList.names.Expose(names, count);
}

void DeviceCatalog::ListAudio(const char16_t*** names, unsigned* count)
{
    Refresh(m_audioList, kAudioClasses, false);
    m_audioList.names.Expose(names, count);
}

bool DeviceCatalog::SelectVideo(int index)
{
    if (index >= 0 && !m_videoList.listed) Refresh(m_videoList, kVideoClasses, true);
    return Select(m_videoList, index, m_video);
}

bool DeviceCatalog::SelectAudio(int index)
{
    if (index >= 0 && !m_audioList.listed) Refresh(m_audioList, kAudioClasses, false);
    return Select(m_audioList, index, m_audio);
}

bool DeviceCatalog::Select(Listing& listing, int index, CaptureSource& selected)
{
    const bool valid = index >= -1 && index < static_cast<int>(listing.sources.size());
    selected = (valid && index >= 0) ? listing.sources[static_cast<std::size_t>(index)] : CaptureSource();
    return valid;
}

}  // namespace castorn
