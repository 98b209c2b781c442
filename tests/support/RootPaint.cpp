#include "support/RootPaint.h"

#include <xcb/xcb.h>

#include <cstdlib>
#include <stdexcept>

namespace test_support {

RootPaint::RootPaint(const std::string& display, std::uint32_t pixel)
    : m_connection(xcb_connect(display.c_str(), nullptr))
{
    if (xcb_connection_has_error(m_connection)) {
        xcb_disconnect(m_connection);
        throw std::runtime_error("cannot open the display " + display);
    }
    m_root = xcb_setup_roots_iterator(xcb_get_setup(m_connection)).data->root;
    xcb_change_window_attributes(m_connection, m_root, XCB_CW_BACK_PIXEL, &pixel);
    xcb_clear_area(m_connection, 0, m_root, 0, 0, 0, 0);
    Sync();
}

RootPaint::~RootPaint()
{
    xcb_disconnect(m_connection);
}

void RootPaint::PlacePointer(int x, int y)
{
    xcb_warp_pointer(m_connection, XCB_NONE, m_root, 0, 0, 0, 0, static_cast<std::int16_t>(x),
                     static_cast<std::int16_t>(y));
    Sync();
}

// A round trip: what was asked before it is done.
void RootPaint::Sync()
{
    std::free(xcb_get_input_focus_reply(m_connection, xcb_get_input_focus(m_connection), nullptr));
}

}  // namespace test_support
