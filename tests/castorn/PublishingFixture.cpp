#include "PublishingFixture.h"

namespace castorn_test {

bool ToolsPresent()
{
    return Installed("nginx") && Installed("pulseaudio") && Installed("Xvfb") && Installed("ffprobe") &&
           Installed("gst-launch-1.0");
}

}  // namespace castorn_test
