#include "castorn/PreviewWindow.h"

#include <gst/video/video.h>

#include <algorithm>
#include <cstdlib>

namespace castorn {

namespace {

template <typename T>
using Reply = std::unique_ptr<T, decltype(&std::free)>;

// Our frames are 32-bit BGRx: the server must store 24- and 32-bit pixels that way.
bool DrawsBgrx(xcb_connection_t* connection, int depth)
{
    const xcb_setup_t* setup = xcb_get_setup(connection);
    if (setup->image_byte_order != XCB_IMAGE_ORDER_LSB_FIRST || (depth != 24 && depth != 32)) return false;
    for (auto it = xcb_setup_pixmap_formats_iterator(setup); it.rem; xcb_format_next(&it))
        if (it.data->depth == depth) return it.data->bits_per_pixel == 32;
    return false;
}

}  // namespace

std::unique_ptr<PreviewWindow> PreviewWindow::Open(std::uintptr_t window)
{
    if (window == 0 || window > UINT32_MAX) return nullptr;
    xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(connection)) {
        xcb_disconnect(connection);
        return nullptr;
    }
    const auto id = static_cast<xcb_window_t>(window);
    xcb_generic_error_t* error = nullptr;
    Reply<xcb_get_geometry_reply_t> geometry(
        xcb_get_geometry_reply(connection, xcb_get_geometry(connection, id), &error), &std::free);
    std::free(error);
    if (!geometry || geometry->width < 2 || geometry->height < 2 || !DrawsBgrx(connection, geometry->depth)) {
        xcb_disconnect(connection);
        return nullptr;
    }
    return std::unique_ptr<PreviewWindow>(
        new PreviewWindow(connection, id, geometry->width, geometry->height, geometry->depth));
}

PreviewWindow::PreviewWindow(xcb_connection_t* connection, xcb_window_t window, int width, int height, int depth)
    : m_connection(connection),
      m_window(window),
      m_gc(xcb_generate_id(connection)),
      m_width(width),
      m_height(height),
      m_depth(depth)
{
    const uint32_t black = 0;
    xcb_create_gc(m_connection, m_gc, m_window, XCB_GC_FOREGROUND, &black);
}

PreviewWindow::~PreviewWindow()
{
    xcb_free_gc(m_connection, m_gc);
    xcb_disconnect(m_connection);
}

void PreviewWindow::FitPicture(int streamWidth, int streamHeight, int& width, int& height) const
{
    const bool wider = static_cast<long long>(streamWidth) * m_height > static_cast<long long>(m_width) * streamHeight;
    width = wider ? m_width : static_cast<int>(static_cast<long long>(m_height) * streamWidth / streamHeight);
    height = wider ? static_cast<int>(static_cast<long long>(m_width) * streamHeight / streamWidth) : m_height;
    width = std::max(2, width & ~1);
    height = std::max(2, height & ~1);
}

void PreviewWindow::Show(GstSample* frame)
{
    if (m_gone || WindowGone()) return;
    GstVideoInfo info;
    if (!gst_video_info_from_caps(&info, gst_sample_get_caps(frame))) return;
    GstVideoFrame mapped;
    if (!gst_video_frame_map(&mapped, &info, gst_sample_get_buffer(frame), GST_MAP_READ)) return;
    const int width = GST_VIDEO_FRAME_WIDTH(&mapped);
    const int height = GST_VIDEO_FRAME_HEIGHT(&mapped);
    const int x = (m_width - width) / 2;
    const int y = (m_height - height) / 2;
    FillBorders(width, height, x, y);
    PutRows(static_cast<const std::uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&mapped, 0)),
            GST_VIDEO_FRAME_PLANE_STRIDE(&mapped, 0), width, height, x, y);
    gst_video_frame_unmap(&mapped);
    xcb_flush(m_connection);
}

void PreviewWindow::PutRows(const std::uint8_t* pixels, int stride, int width, int height, int x, int y)
{
    // A request may not exceed the server's limit (in 4-byte units); send bands of rows.
    const std::size_t limit = xcb_get_maximum_request_length(m_connection) * 4 - 64;
    const int rowBytes = width * 4;
    const int rowsPerPut = std::max(1, static_cast<int>(limit / static_cast<std::size_t>(rowBytes)));
    for (int row = 0; row < height; row += rowsPerPut) {
        const int rows = std::min(rowsPerPut, height - row);
        if (stride == rowBytes) {
            xcb_put_image(m_connection, XCB_IMAGE_FORMAT_Z_PIXMAP, m_window, m_gc, width, rows, x, y + row, 0, m_depth,
                          rows * rowBytes, pixels + row * stride);
            continue;
        }
        for (int line = 0; line < rows; ++line)
            xcb_put_image(m_connection, XCB_IMAGE_FORMAT_Z_PIXMAP, m_window, m_gc, width, 1, x, y + row + line, 0,
                          m_depth, rowBytes, pixels + (row + line) * stride);
    }
}

void PreviewWindow::FillBorders(int width, int height, int x, int y)
{
    const xcb_rectangle_t borders[] = {
        {0, 0, static_cast<uint16_t>(m_width), static_cast<uint16_t>(y)},
        {0, static_cast<int16_t>(y + height), static_cast<uint16_t>(m_width),
         static_cast<uint16_t>(m_height - y - height)},
        {0, static_cast<int16_t>(y), static_cast<uint16_t>(x), static_cast<uint16_t>(height)},
        {static_cast<int16_t>(x + width), static_cast<int16_t>(y), static_cast<uint16_t>(m_width - x - width),
         static_cast<uint16_t>(height)},
    };
    xcb_poly_fill_rectangle(m_connection, m_window, m_gc, 4, borders);
}

// Errors of earlier requests arrive as events: one means the window is gone.
bool PreviewWindow::WindowGone()
{
    while (xcb_generic_event_t* event = xcb_poll_for_event(m_connection)) {
        m_gone = m_gone || event->response_type == 0;
        std::free(event);
    }
    m_gone = m_gone || xcb_connection_has_error(m_connection);
    return m_gone;
}

}  // namespace castorn
