#include "castorn/DeviceWatch.h"

#include "castorn/GstRef.h"
#include "castorn/LingeringWork.h"
#include "castorn/background/BackgroundAudio.h"

#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace castorn {

struct DeviceWatch::State {
    std::mutex mutex;
    std::condition_variable changed;
    std::uint64_t asked = 0;  // probes asked for, and done
    std::uint64_t done = 0;
    bool quit = false;
    std::shared_ptr<const DeviceFindings> findings = std::make_shared<DeviceFindings>();
};

namespace {

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

DeviceFindings Probe()
{
    const bool portal = PortalScreenOffered();
    return {MonitorDevices("Video/Source"), portal ? std::vector<X11Screen>() : ListX11Screens(),
            std::vector<PortalScreen>(portal ? 1 : 0), MonitorDevices("Audio/Source"), ListPlayers()};
}

void Run(const std::shared_ptr<DeviceWatch::State>& state)
{
    std::unique_lock lock(state->mutex);
    for (;;) {
        state->changed.wait(lock, [&] { return state->quit || state->done < state->asked; });
        if (state->quit) return;
        const std::uint64_t asked = state->asked;
        lock.unlock();
        auto findings = std::make_shared<const DeviceFindings>(Probe());
        lock.lock();
        state->findings = std::move(findings);
        state->done = asked;
        state->changed.notify_all();
    }
}

}  // namespace

DeviceWatch::DeviceWatch(std::chrono::milliseconds firstLimit) : m_state(std::make_shared<State>())
{
    LingeringWork::Start("castorn-devices", [state = m_state] { Run(state); });
    Fresh(firstLimit);
}

DeviceWatch::~DeviceWatch()
{
    {
        std::lock_guard lock(m_state->mutex);
        m_state->quit = true;
    }
    m_state->changed.notify_all();
}

std::shared_ptr<const DeviceFindings> DeviceWatch::Fresh(std::chrono::milliseconds limit)
{
    std::unique_lock lock(m_state->mutex);
    const std::uint64_t asked = ++m_state->asked;
    m_state->changed.notify_all();
    m_state->changed.wait_for(lock, limit, [&] { return m_state->done >= asked; });
    return m_state->findings;
}

}  // namespace castorn
