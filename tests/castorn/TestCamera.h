// A camera for tests, offered by the device monitor of this process as "Test Camera":
// live white frames at 320x240, or the picture a test sets. Unplugged, its frames stop with an error and it
// cannot be opened; plugged in again, it can. A failing one opens, but its every
// frame is an error.
#pragma once

namespace castorn_test {

inline constexpr char16_t kTestCameraName[] = u"Test Camera";

enum class CameraState { Plugged, Unplugged, Failing };

void InstallTestCamera();  // after GStreamer is initialised; once is enough
void SetTestCamera(CameraState state);
// For cameras opened from now on: a videotestsrc pattern at a size and rate.
void SetTestCameraPicture(const char* pattern, int width, int height, int fps);

}  // namespace castorn_test
