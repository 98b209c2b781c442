// The local preview: pictures of the stream handed to the program's receiver. Going
// off air, a change of receiver and Release shut it under the lock a hand-over holds,
// so that no picture reaches the program once they have returned.
#pragma once

#include "interface/EngineInterface.h"

#include <gst/gst.h>

#include <cstdint>
#include <mutex>

namespace castorn {

class PreviewOutlet {
public:
    struct Size {
        int width = 0;
        int height = 0;
    };

    // On the caller's thread. Takes effect for the receiver at once, for the size at the
    // next going on air; null for none.
    void SetReceiver(ICastornPreview* receiver, Size largest);
    // Going on air: the picture size for the stream, none (0 by 0) without a receiver, and
    // the serial the publication's pictures are handed over with.
    Size Open(WindowHandle frame, int streamWidth, int streamHeight, std::uint64_t& serial);
    void Close();  // going off air
    // A BGRx picture of the publication `serial`, on its streaming thread.
    void Show(std::uint64_t serial, GstSample* picture);

private:
    std::mutex m_mutex;  // held for a whole hand-over
    ICastornPreview* m_receiver = nullptr;
    Size m_largest;
    WindowHandle m_frame = 0;
    std::uint64_t m_serial = 0;  // of the publication on air; pictures of earlier ones go
    bool m_open = false;
};

// The largest picture of the stream's aspect that fits `largest`, even-sized.
PreviewOutlet::Size FitPicture(int streamWidth, int streamHeight, PreviewOutlet::Size largest);

}  // namespace castorn
