#include "castorn/TagAdmission.h"

namespace castorn {

TagAdmission::Push TagAdmission::Admit(FlvTagKind kind, bool dropVideo)
{
    if (kind == FlvTagKind::Header || kind == FlvTagKind::Audio) return Push::Sent;
    const Push push = Gate(kind, dropVideo);
    const bool video = IsVideo(kind);
    // Frames before the connection's first key frame were never due; later ones left out are drops.
    if (video && push == Push::Sent)
        ++m_framesSent;
    else if (video && m_framesSent > 0)
        ++m_framesDropped;
    return push;
}

TagAdmission::Push TagAdmission::Gate(FlvTagKind kind, bool dropVideo)
{
    if (dropVideo) {
        // A key frame asked for now would be dropped as well: ask once the backlog drains.
        m_awaitingKeyFrame = true;
        m_keyFrameAsked = false;
        return Push::Overflow;
    }
    if (kind == FlvTagKind::VideoDelta && m_awaitingKeyFrame) {
        if (m_keyFrameAsked) return Push::Skipped;
        m_keyFrameAsked = true;
        return Push::NeedKeyFrame;
    }
    if (kind == FlvTagKind::VideoKey) m_awaitingKeyFrame = false;
    return Push::Sent;
}

void TagAdmission::Withdraw(int frames)
{
    m_framesSent -= frames;
    m_framesDropped += frames;
}

std::uint32_t TagAdmission::Rebased(std::uint32_t time)
{
    if (!m_firstTime) m_firstTime = time;
    return time >= *m_firstTime ? time - *m_firstTime : 0;
}

}  // namespace castorn
