// The screens of the X server, to capture when there is no camera.
#pragma once

#include <string>
#include <vector>

namespace castorn {

struct X11Screen {
    std::string display;  // this screen's display name, e.g. ":0.1"
    int width = 0;
    int height = 0;
};

// The screens of the display named by $DISPLAY; empty when there is none.
std::vector<X11Screen> ListX11Screens();

}  // namespace castorn
