// One connection to the RTMP server: FLV tags from the capture pipeline go in
// through an appsrc, rtmp2sink sends them. A lost connection ends its sender;
// the next attempt gets a new one while the capture goes on.
#pragma once

#include "castorn/FlvTag.h"
#include "castorn/PublishAddress.h"
#include "castorn/SendStatistics.h"

#include <gst/gst.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace castorn {

class RtmpSender {
public:
    // NeedKeyFrame: video is waiting for a key frame, and the encoder should make
    // one (said once per wait).
    enum class Push { Sent, Skipped, Overflow, NeedKeyFrame };

    // null with the reason in `why` when the elements cannot be made.
    static std::unique_ptr<RtmpSender> Create(const PublishAddress& address, std::size_t queueLimit, std::string& why);
    ~RtmpSender();  // to NULL: closes the connection; once the attempt is over, or it stays open
    RtmpSender(const RtmpSender&) = delete;
    RtmpSender& operator=(const RtmpSender&) = delete;

    bool Start(std::string& why);  // connects in the background

    // From the capture's streaming thread; never waits. Video waits for a key
    // frame at the start and after any tag was dropped, so that the server never
    // gets a picture whose references it lacks. Times start from 0 on each
    // connection, as for any new publication.
    Push Send(GstSample* tag);
    // End of stream: what is queued goes out, then "FCUnpublish" and "deleteStream",
    // and the bus says EOS (before the server has had them).
    void Finish();
    // The server has answered since Finish. It answers the end of the publication after
    // everything before it; closing before its answer is read would reset the connection.
    bool AnsweredFinish() const;

    bool Connected() const;  // the server accepted the publish
    // Connected, or failed with an error still on the bus: stopping now is clean.
    bool AttemptOver() const;
    std::size_t Queued() const;  // bytes waiting for the server
    SenderCounters Counters() const;
    GstElement* Pipeline() const { return m_pipeline; }

private:
    RtmpSender(GstElement* pipeline, GstElement* source, GstElement* sink, std::size_t queueLimit);
    Push Admit(FlvTagKind kind);  // whether a media tag goes now
    void PushRebased(GstSample* tag);
    std::uint64_t StatsField(const char* name) const;  // from rtmp2sink's "stats"

    GstElement* m_pipeline;
    GstElement* m_source;
    GstElement* m_sink;
    std::size_t m_queueLimit;
    bool m_awaitingKeyFrame = true;
    bool m_keyFrameAsked = false;
    std::optional<std::uint32_t> m_firstTime;
    std::uint64_t m_receivedAtFinish = 0;
    std::atomic<std::int64_t> m_framesSent{0};
    std::atomic<std::int64_t> m_framesDropped{0};  // video frames left out while the server was behind
};

}  // namespace castorn
