// A display's screen painted one colour, for as long as this object lives: Xvfb resets
// the screen when its last client leaves, so the connection stays open.
#pragma once

#include <cstdint>
#include <string>

struct xcb_connection_t;

namespace test_support {

class RootPaint {
public:
    // `pixel` as the X server has it: 0xff8040 is red ff, green 80, blue 40.
    RootPaint(const std::string& display, std::uint32_t pixel);
    ~RootPaint();
    RootPaint(const RootPaint&) = delete;
    RootPaint& operator=(const RootPaint&) = delete;

    void PlacePointer(int x, int y);

private:
    void Sync();

    xcb_connection_t* m_connection;
    std::uint32_t m_root = 0;
};

}  // namespace test_support
