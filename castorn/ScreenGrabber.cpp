#include "castorn/ScreenGrabber.h"

#include <sys/ipc.h>
#include <sys/shm.h>
#include <sys/socket.h>
#include <xcb/shm.h>
#include <xcb/xfixes.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace castorn {

namespace {

constexpr int kBytesPerPixel = 4;

template <typename T>
using Reply = std::unique_ptr<T, decltype(&std::free)>;

template <typename T>
Reply<T> Take(T* reply)
{
    return Reply<T>(reply, &std::free);
}

// Premultiplied ARGB over BGRx, as the server gives a cursor's image.
void Blend(std::uint32_t argb, std::uint8_t* pixel)
{
    const unsigned alpha = argb >> 24;
    if (alpha == 0) return;
    const unsigned keep = 255 - alpha;
    for (int channel = 0; channel < 3; ++channel) {
        const unsigned over = (argb >> (8 * channel)) & 0xff;
        pixel[channel] = static_cast<std::uint8_t>(std::min(255u, over + (pixel[channel] * keep + 127) / 255));
    }
}

}  // namespace

// The server writes each frame straight into memory shared with it: no copy through the socket.
struct ScreenGrabber::SharedImage {
    xcb_shm_seg_t segment = 0;
    std::uint8_t* pixels = nullptr;
};

ScreenGrabber::ScreenGrabber(const std::string& display) : m_display(display)
{
    int number = 0;
    m_connection = xcb_connect(display.c_str(), &number);
    if (xcb_connection_has_error(m_connection)) {
        Fail("cannot open the X display \"" + display + "\"");
        return;
    }
    if (!OpenScreen(display, number)) return;
    ShareMemory();
    const auto* fixes = xcb_get_extension_data(m_connection, &xcb_xfixes_id);
    // The version must be asked before any other XFixes request.
    m_pointer = fixes && fixes->present &&
                Take(xcb_xfixes_query_version_reply(m_connection, xcb_xfixes_query_version(m_connection, 4, 0), nullptr));
}

ScreenGrabber::~ScreenGrabber()
{
    if (m_shared) {
        if (!xcb_connection_has_error(m_connection)) xcb_shm_detach(m_connection, m_shared->segment);
        shmdt(m_shared->pixels);
    }
    xcb_disconnect(m_connection);
}

void ScreenGrabber::Interrupt()
{
    shutdown(xcb_get_file_descriptor(m_connection), SHUT_RDWR);
}

bool ScreenGrabber::OpenScreen(const std::string& display, int number)
{
    const xcb_setup_t* setup = xcb_get_setup(m_connection);
    auto screens = xcb_setup_roots_iterator(setup);
    for (int skip = number; skip > 0 && screens.rem; --skip) xcb_screen_next(&screens);
    if (!screens.rem) return Fail("the X display \"" + display + "\" has no such screen");
    const xcb_screen_t* screen = screens.data;
    m_root = screen->root;
    m_width = screen->width_in_pixels;
    m_height = screen->height_in_pixels;
    // Frames are BGRx: 32 bits a pixel, least significant byte first.
    for (auto formats = xcb_setup_pixmap_formats_iterator(setup); formats.rem; xcb_format_next(&formats))
        if (formats.data->depth == screen->root_depth && formats.data->bits_per_pixel == 32 &&
            setup->image_byte_order == XCB_IMAGE_ORDER_LSB_FIRST)
            return true;
    return Fail("the X screen's pixels (depth " + std::to_string(screen->root_depth) + ") cannot be captured");
}

void ScreenGrabber::ShareMemory()
{
    const auto* shm = xcb_get_extension_data(m_connection, &xcb_shm_id);
    if (!shm || !shm->present) return;
    const int id = shmget(IPC_PRIVATE, std::size_t(m_width) * m_height * kBytesPerPixel, IPC_CREAT | 0600);
    if (id < 0) return;
    void* pixels = shmat(id, nullptr, 0);
    auto shared = std::make_unique<SharedImage>();
    shared->segment = xcb_generate_id(m_connection);
    const bool attached =
        pixels != reinterpret_cast<void*>(-1) &&
        !Take(xcb_request_check(m_connection, xcb_shm_attach_checked(m_connection, shared->segment, id, false)));
    // Gone once both sides let go of it, even if this process dies.
    shmctl(id, IPC_RMID, nullptr);
    if (!attached) {
        // A display on another machine cannot share memory: frames come through the socket.
        if (pixels != reinterpret_cast<void*>(-1)) shmdt(pixels);
        return;
    }
    shared->pixels = static_cast<std::uint8_t*>(pixels);
    m_shared = std::move(shared);
}

bool ScreenGrabber::Grab(std::uint8_t* pixels)
{
    if (!Ok()) return false;
    // The screen's size is asked while it is smaller than the frame (it may grow back) and
    // when a grab fails (it may have shrunk), not for every frame.
    if (m_area.width < m_width || m_area.height < m_height) m_area = VisibleArea();
    bool grabbed = GrabArea(m_area, pixels);
    if (!grabbed && !xcb_connection_has_error(m_connection)) {
        m_area = VisibleArea();
        grabbed = GrabArea(m_area, pixels);
    }
    if (!grabbed || xcb_connection_has_error(m_connection))
        return Fail("the X display \"" + m_display + "\" went away");
    if (m_pointer) DrawPointer(pixels);
    return true;
}

// The part of the frame the screen still covers: a monitor unplugged makes the screen smaller.
ScreenGrabber::Area ScreenGrabber::VisibleArea()
{
    const auto geometry = Take(xcb_get_geometry_reply(m_connection, xcb_get_geometry(m_connection, m_root), nullptr));
    if (!geometry) return {0, 0};
    return {std::min<int>(m_width, geometry->width), std::min<int>(m_height, geometry->height)};
}

bool ScreenGrabber::GrabArea(const Area& area, std::uint8_t* pixels)
{
    if (area.width <= 0 || area.height <= 0) return false;
    const std::size_t frameStride = std::size_t(m_width) * kBytesPerPixel;
    if (area.width < m_width || area.height < m_height) std::memset(pixels, 0, frameStride * m_height);
    const std::uint8_t* rows = nullptr;
    Reply<xcb_get_image_reply_t> image = Take<xcb_get_image_reply_t>(nullptr);
    if (m_shared) {
        if (!Take(xcb_shm_get_image_reply(m_connection,
                                          xcb_shm_get_image(m_connection, m_root, 0, 0, area.width, area.height, ~0u,
                                                            XCB_IMAGE_FORMAT_Z_PIXMAP, m_shared->segment, 0),
                                          nullptr)))
            return false;
        rows = m_shared->pixels;
    } else {
        image = Take(xcb_get_image_reply(m_connection,
                                         xcb_get_image(m_connection, XCB_IMAGE_FORMAT_Z_PIXMAP, m_root, 0, 0,
                                                       area.width, area.height, ~0u),
                                         nullptr));
        if (!image) return false;
        rows = xcb_get_image_data(image.get());
    }
    const std::size_t areaStride = std::size_t(area.width) * kBytesPerPixel;
    for (int row = 0; row < area.height; ++row)
        std::memcpy(pixels + row * frameStride, rows + row * areaStride, areaStride);
    return true;
}

void ScreenGrabber::DrawPointer(std::uint8_t* pixels)
{
    const auto cursor = Take(
        xcb_xfixes_get_cursor_image_reply(m_connection, xcb_xfixes_get_cursor_image(m_connection), nullptr));
    if (!cursor) return;
    const std::uint32_t* image = xcb_xfixes_get_cursor_image_cursor_image(cursor.get());
    const int left = cursor->x - cursor->xhot;
    const int top = cursor->y - cursor->yhot;
    for (int row = std::max(0, -top); row < cursor->height && top + row < m_height; ++row)
        for (int column = std::max(0, -left); column < cursor->width && left + column < m_width; ++column)
            Blend(image[row * cursor->width + column],
                  pixels + (std::size_t(top + row) * m_width + left + column) * kBytesPerPixel);
}

bool ScreenGrabber::Fail(const std::string& why)
{
    m_error = why;
    return false;
}

}  // namespace castorn
