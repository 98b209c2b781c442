// One connection to the RTMP server: FLV tags from the capture pipeline go in
// through an appsrc, rtmp2sink sends them. A lost connection ends its sender;
// the next attempt gets a new one while the capture goes on.
#pragma once

#include "castorn/ConnectionSocket.h"
#include "castorn/PublishAddress.h"
#include "castorn/SendBacklog.h"
#include "castorn/SendStatistics.h"
#include "castorn/TagAdmission.h"
#include "castorn/TagQueue.h"

#include <gst/gst.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
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
    std::size_t Queued();  // bytes waiting for the server, the socket's not counted
    SenderCounters Counters();
    // On the engine loop's thread, once connected.
    SenderFlow Flow();
    // The stream's rate now, sound included: the socket holds no more than a moment of it.
    void FitSocket(int kbps);
    // Pictures are left out until told otherwise; sound never is.
    // Those waiting to be handed on are dropped at once.
    void DropVideo(bool drop);
    // The connection is given up: its close drops what still waits instead of sending it.
    // Its ends, when it was made.
    std::optional<StaleSession> Abandon();

    // How long the connection may take nothing at all before it is given up.
    static constexpr std::chrono::seconds kSilenceLimit{10};
    GstElement* Pipeline() const { return m_pipeline; }

private:
    RtmpSender(GstElement* pipeline, GstElement* source, GstElement* sink, int port, std::size_t queueLimit);
    std::uint64_t SocketWaiting();
    bool SocketHasRoom() const;  // under m_queueMutex
    GstSample* Rebased(GstSample* tag);                // a copy with this connection's time
    void HandOn(bool all = false);                     // from the queue to the element; under m_queueMutex
    std::uint64_t StatsField(const char* name) const;  // from rtmp2sink's "stats"

    GstElement* m_pipeline;
    GstElement* m_source;
    GstElement* m_sink;
    int m_port;
    std::size_t m_queueLimit;
    std::mutex m_queueMutex;  // the streaming thread adds, the engine loop drops and hands on
    TagAdmission m_admission;
    TagQueue m_queue;
    bool m_dropVideo = false;
    SendBacklog m_backlog;
    ConnectionSocket m_socket;  // found, fitted and read under m_queueMutex
    int m_socketBytes = 0;      // what the socket's buffer was fitted to; 0: not yet
    std::uint64_t m_receivedAtFinish = 0;
};

}  // namespace castorn
