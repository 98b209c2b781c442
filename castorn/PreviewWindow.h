// The local preview: frames drawn into the program's frame control, an X window
// of another client, through a connection of our own. A window that goes away
// while on air only ends the drawing; XCB reports it as a value, where Xlib's
// default error handler would end the process.
#pragma once

#include <gst/gst.h>
#include <xcb/xcb.h>

#include <cstdint>
#include <memory>

namespace castorn {

class PreviewWindow {
public:
    // null when `window` is 0, not a window of $DISPLAY, or of a depth we cannot draw.
    static std::unique_ptr<PreviewWindow> Open(std::uintptr_t window);
    ~PreviewWindow();
    PreviewWindow(const PreviewWindow&) = delete;
    PreviewWindow& operator=(const PreviewWindow&) = delete;

    // The largest picture of the stream's aspect that fits the window.
    void FitPicture(int streamWidth, int streamHeight, int& width, int& height) const;

    // A BGRx frame of the fitted size; from one streaming thread.
    void Show(GstSample* frame);

private:
    PreviewWindow(xcb_connection_t* connection, xcb_window_t window, int width, int height, int depth);
    void PutRows(const std::uint8_t* pixels, int stride, int width, int height, int x, int y);
    void FillBorders(int width, int height, int x, int y);
    bool WindowGone();

    xcb_connection_t* m_connection;
    xcb_window_t m_window;
    xcb_gcontext_t m_gc;
    int m_width;
    int m_height;
    int m_depth;
    bool m_gone = false;
};

}  // namespace castorn
