#include "castorn/PreviewOutlet.h"

#include <gst/video/video.h>

#include <algorithm>

namespace castorn {

void PreviewOutlet::SetReceiver(ICastornPreview* receiver, Size largest)
{
    const std::lock_guard lock(m_mutex);
    m_receiver = receiver;
    m_largest = largest;
}

PreviewOutlet::Size PreviewOutlet::Open(WindowHandle frame, int streamWidth, int streamHeight, std::uint64_t& serial)
{
    const std::lock_guard lock(m_mutex);
    m_frame = frame;
    m_open = true;
    serial = ++m_serial;
    return m_receiver ? FitPicture(streamWidth, streamHeight, m_largest) : Size{};
}

void PreviewOutlet::Close()
{
    const std::lock_guard lock(m_mutex);
    m_open = false;
}

void PreviewOutlet::Show(std::uint64_t serial, GstSample* picture)
{
    GstVideoInfo info;
    if (!gst_video_info_from_caps(&info, gst_sample_get_caps(picture))) return;
    GstVideoFrame mapped;
    if (!gst_video_frame_map(&mapped, &info, gst_sample_get_buffer(picture), GST_MAP_READ)) return;
    {
        const std::lock_guard lock(m_mutex);
        if (m_open && serial == m_serial && m_receiver)
            m_receiver->OnPreviewFrame(m_frame,
                                       static_cast<const std::uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&mapped, 0)),
                                       GST_VIDEO_FRAME_WIDTH(&mapped), GST_VIDEO_FRAME_HEIGHT(&mapped),
                                       GST_VIDEO_FRAME_PLANE_STRIDE(&mapped, 0));
    }
    gst_video_frame_unmap(&mapped);
}

PreviewOutlet::Size FitPicture(int streamWidth, int streamHeight, PreviewOutlet::Size largest)
{
    if (streamWidth <= 0 || streamHeight <= 0 || largest.width < 2 || largest.height < 2) return {};
    const long long across = largest.width;
    const long long down = largest.height;
    const bool wider = streamWidth * down > across * streamHeight;
    PreviewOutlet::Size fitted{wider ? largest.width : static_cast<int>(down * streamWidth / streamHeight),
                               wider ? static_cast<int>(across * streamHeight / streamWidth) : largest.height};
    fitted.width = std::max(2, fitted.width & ~1);
    fitted.height = std::max(2, fitted.height & ~1);
    return fitted;
}

}  // namespace castorn
