#include "castorn/X11Screens.h"

#include <xcb/xcb.h>

#include <cstdlib>

namespace castorn {

namespace {

// ":0", ":0.0" or "host:0.1" with the screen number replaced.
std::string ScreenDisplayName(const std::string& display, int number)
{
    const auto colon = display.rfind(':');
    const auto dot = display.find('.', colon == std::string::npos ? 0 : colon);
    return display.substr(0, dot) + "." + std::to_string(number);
}

}  // namespace

std::vector<X11Screen> ListX11Screens()
{
    std::vector<X11Screen> screens;
    const char* display = std::getenv("DISPLAY");
    if (!display || !*display) return screens;
    // XCB, not Xlib: a refused connection is a value here, not the end of the process.
    xcb_connection_t* connection = xcb_connect(display, nullptr);
    if (!xcb_connection_has_error(connection)) {
        int number = 0;
        for (auto it = xcb_setup_roots_iterator(xcb_get_setup(connection)); it.rem; xcb_screen_next(&it), ++number)
            screens.push_back(
                {ScreenDisplayName(display, number), it.data->width_in_pixels, it.data->height_in_pixels});
    }
    xcb_disconnect(connection);
    return screens;
}

}  // namespace castorn
