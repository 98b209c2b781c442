// Which FLV tags of the capture one connection sends, and at what times. Sound always
// goes. Video waits for a key frame at the start and after any of it was dropped, so that the server never
// gets a picture whose references it lacks; the encoder is asked for one once per wait.
// Times start from 0 on each connection, as for any new publication.
#pragma once

#include "castorn/FlvTag.h"

#include <atomic>
#include <cstdint>
#include <optional>

namespace castorn {

class TagAdmission {
public:
    // NeedKeyFrame: the tag is left out, and the encoder should make a key frame.
    enum class Push { Sent, Skipped, Overflow, NeedKeyFrame };

    // From the capture's streaming thread. `dropVideo`: the connection is too far behind
    // for more pictures. Stream headers and sound always go: every later tag needs the
    // first, and a gap in the second is heard.
    Push Admit(FlvTagKind kind, bool dropVideo);
    // The time a sent media tag carries on this connection.
    std::uint32_t Rebased(std::uint32_t time);

    // Frames sent that were taken back before they left: they count as dropped.
    void Withdraw(int frames);

    // Video frames of this connection; dropped ones were due but left out. Any thread.
    std::int64_t FramesSent() const { return m_framesSent.load(); }
    std::int64_t FramesDropped() const { return m_framesDropped.load(); }

private:
    Push Gate(FlvTagKind kind, bool dropVideo);

    bool m_awaitingKeyFrame = true;
    bool m_keyFrameAsked = false;
    std::optional<std::uint32_t> m_firstTime;
    std::atomic<std::int64_t> m_framesSent{0};
    std::atomic<std::int64_t> m_framesDropped{0};
};

}  // namespace castorn
