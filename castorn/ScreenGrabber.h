// One X screen's pixels, on a display connection of its own. XCB, not Xlib: a display
// that goes away makes Grab fail, where Xlib would end the whole process.
#pragma once

#include <xcb/xcb.h>

#include <cstdint>
#include <memory>
#include <string>

namespace castorn {

class ScreenGrabber {
public:
    // `display` as in $DISPLAY, with the screen: "host:0.1". Error() says why when it fails.
    explicit ScreenGrabber(const std::string& display);
    ~ScreenGrabber();
    ScreenGrabber(const ScreenGrabber&) = delete;
    ScreenGrabber& operator=(const ScreenGrabber&) = delete;

    bool Ok() const { return m_error.empty(); }
    const std::string& Error() const { return m_error; }
    // The screen's size when it was opened: the size of every frame.
    int Width() const { return m_width; }
    int Height() const { return m_height; }

    // The screen as it is now into `pixels` (BGRx, rows of Width() * 4 bytes), with the
    // pointer drawn in. Where the screen has become smaller, black. False, with Error(),
    // once the display is gone.
    bool Grab(std::uint8_t* pixels);
    // From another thread: a Grab waiting on a server that does not answer fails at once.
    // The connection is of no use after it.
    void Interrupt();

private:
    struct SharedImage;
    struct Area {
        int width, height;
    };

    bool OpenScreen(const std::string& display, int number);
    void ShareMemory();
    Area VisibleArea();
    bool GrabArea(const Area& area, std::uint8_t* pixels);
    void DrawPointer(std::uint8_t* pixels);
    bool Fail(const std::string& why);

    xcb_connection_t* m_connection = nullptr;
    xcb_window_t m_root = 0;
    int m_width = 0;
    int m_height = 0;
    bool m_pointer = false;  // the server can tell the pointer's image
    Area m_area{};  // what the screen covers of the frame, asked again only when it may have changed
    std::unique_ptr<SharedImage> m_shared;
    std::string m_display;
    std::string m_error;
};

}  // namespace castorn
