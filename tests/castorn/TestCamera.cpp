#include "TestCamera.h"

#include <gst/gst.h>

#include <atomic>
#include <mutex>
#include <string>

namespace castorn_test {

namespace {

std::atomic<CameraState> s_state{CameraState::Plugged};
std::mutex s_pictureMutex;
std::string s_picture = "videotestsrc is-live=true pattern=white ! video/x-raw,width=320,height=240,framerate=10/1";

struct CameraDevice {
    GstDevice parent;
};
struct CameraDeviceClass {
    GstDeviceClass parent_class;
};
struct CameraProvider {
    GstDeviceProvider parent;
};
struct CameraProviderClass {
    GstDeviceProviderClass parent_class;
};

G_DEFINE_TYPE(CameraDevice, camera_device, GST_TYPE_DEVICE)
G_DEFINE_TYPE(CameraProvider, camera_provider, GST_TYPE_DEVICE_PROVIDER)

// Unless plugged, the next frame fails as a read from a vanished device does.
GstPadProbeReturn FailUnlessPlugged(GstPad*, GstPadProbeInfo* info, gpointer)
{
    if (s_state == CameraState::Plugged) return GST_PAD_PROBE_OK;
    gst_buffer_unref(GST_PAD_PROBE_INFO_BUFFER(info));
    GST_PAD_PROBE_INFO_DATA(info) = nullptr;
    GST_PAD_PROBE_INFO_FLOW_RETURN(info) = GST_FLOW_ERROR;
    return GST_PAD_PROBE_HANDLED;
}

GstElement* CreateCameraElement(GstDevice*, const gchar* name)
{
    if (s_state == CameraState::Unplugged) {
        GstElement* missing = gst_element_factory_make("filesrc", name);
        g_object_set(missing, "location", "/nonexistent/test-camera", nullptr);
        return missing;
    }
    std::string picture;
    {
        std::lock_guard lock(s_pictureMutex);
        picture = s_picture;
    }
    GstElement* camera = gst_parse_bin_from_description(picture.c_str(), TRUE, nullptr);
    GstPad* pad = gst_element_get_static_pad(camera, "src");
    gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_BUFFER, &FailUnlessPlugged, nullptr, nullptr);
    gst_object_unref(pad);
    return camera;
}

void camera_device_class_init(CameraDeviceClass* klass)
{
    GST_DEVICE_CLASS(klass)->create_element = &CreateCameraElement;
}

void camera_device_init(CameraDevice*) {}

GList* ProbeCameras(GstDeviceProvider*)
{
    GstCaps* caps = gst_caps_new_empty_simple("video/x-raw");
    GstDevice* device = GST_DEVICE(g_object_new(camera_device_get_type(), "display-name", "Test Camera", "device-class",
                                                "Video/Source", "caps", caps, nullptr));
    gst_caps_unref(caps);
    return g_list_append(nullptr, device);
}

void camera_provider_class_init(CameraProviderClass* klass)
{
    GST_DEVICE_PROVIDER_CLASS(klass)->probe = &ProbeCameras;
    gst_device_provider_class_set_static_metadata(GST_DEVICE_PROVIDER_CLASS(klass), "Test camera provider",
                                                  "Video/Source", "A camera for tests", "tests");
}

void camera_provider_init(CameraProvider*) {}

gboolean RegisterProvider(GstPlugin* plugin)
{
    return gst_device_provider_register(plugin, "castorntestcameras", GST_RANK_PRIMARY, camera_provider_get_type());
}

}  // namespace

void InstallTestCamera()
{
    static const bool installed =
        gst_plugin_register_static(GST_VERSION_MAJOR, GST_VERSION_MINOR, "castorntestcamera", "A camera for tests",
                                   &RegisterProvider, "1.0", "LGPL", "tests", "tests", "tests");
    (void)installed;
}

void SetTestCamera(CameraState state)
{
    s_state = state;
}

void SetTestCameraPicture(const char* pattern, int width, int height, int fps)
{
    std::lock_guard lock(s_pictureMutex);
    s_picture = std::string("videotestsrc is-live=true pattern=") + pattern +
                " ! video/x-raw,width=" + std::to_string(width) + ",height=" + std::to_string(height) +
                ",framerate=" + std::to_string(fps) + "/1";
}

}  // namespace castorn_test
