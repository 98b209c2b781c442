// A camera for tests, offered by the device monitor of this process as "Test Camera":
// live white frames at 320x240. Unplugged, its frames stop with an error and it
// cannot be opened; plugged in again, it can. A failing one opens, but its every
// frame is an error.
#pragma once

namespace castorn_test {

inline constexpr char16_t kTestCameraName[] = u"Test Camera";

enum class CameraState { Plugged, Unplugged, Failing };

void InstallTestCamera();  // after GStreamer is initialised; once is enough
void SetTestCamera(CameraState state);

}  // namespace castorn_test
