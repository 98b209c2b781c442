// One connection to the RTMP server: FLV tags from the capture pipeline go in
// through an appsrc, rtmp2sink sends them. A lost connection ends its sender;
// the next attempt gets a new one while the capture goes on.
#pragma once

#include "castorn/PublishAddress.h"
#include "castorn/SendStatistics.h"
#include "castorn/TagAdmission.h"

#include <gst/gst.h>

#include <cstdint>
#include <memory>
#include <string>

namespace castorn {

class RtmpSender {
public:
    using Push = TagAdmission::Push;

    // null with the reason in `why` when the elements cannot be made.
    static std::unique_ptr<RtmpSender> Create(const PublishAddress& address, std::size_t queueLimit, std::string& why);
    ~RtmpSender();  // to NULL: closes the connection; once the attempt is over, or it stays open
    RtmpSender(const RtmpSender&) = delete;
    RtmpSender& operator=(const RtmpSender&) = delete;

    bool Start(std::string& why);  // connects in the background

    // From the capture's streaming thread; never waits. What goes, and when: TagAdmission.
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
    void PushRebased(GstSample* tag);
    std::uint64_t StatsField(const char* name) const;  // from rtmp2sink's "stats"

    GstElement* m_pipeline;
    GstElement* m_source;
    GstElement* m_sink;
    std::size_t m_queueLimit;
    TagAdmission m_admission;
    std::uint64_t m_receivedAtFinish = 0;
};

}  // namespace castorn
