// Being on air, on the engine loop's thread: the capture pipeline runs from
// Start to Stop; senders come and go with the connection, retried with a
// growing delay; the bus messages of both become notifications.
#pragma once

#include "castorn/CapturePipeline.h"
#include "castorn/CongestionControl.h"
#include "castorn/Failure.h"
#include "castorn/PublishAddress.h"
#include "castorn/ReconnectBackoff.h"
#include "castorn/Recorder.h"
#include "castorn/RetiredSenders.h"
#include "castorn/SendStatistics.h"
#include "castorn/StaleSession.h"
#include "interface/EngineInterface.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace castorn {

class BackgroundAudio;
class BusWatch;
class EngineLoop;
class Notifier;
class RtmpSender;

struct PublishJob {
    CaptureSetup capture;  // its background source is filled in here
    PublishAddress address;
    CapturePipeline::FrameHandler preview;  // with capture's preview size, when it has one
};

class Publisher {
public:
    Publisher(EngineLoop& loop, const std::shared_ptr<Notifier>& notifier, BackgroundAudio& background);
    ~Publisher();
    Publisher(const Publisher&) = delete;
    Publisher& operator=(const Publisher&) = delete;

    // All on the loop thread. A Start while a stop is under way waits for it.
    void Start(PublishJob job);
    // Ends the stream cleanly within `grace`, then tears down and calls `stopped`.
    void Stop(std::chrono::milliseconds grace, std::function<void()> stopped);
    // A copy on disk from going on air to going off air, whatever the connection does.
    void SetRecording(bool on, std::string folder) { m_recorder.Configure(on, std::move(folder)); }

private:
    enum class Phase { Idle, Live, Ending };

    void Begin(PublishJob job);
    bool StartCapture(PublishJob& job);
    void Connect();
    void Lost(const Failure& failure);
    void ScheduleRetry(const Failure& failure);
    void EndLostSession();  // the server's side of our last lost connection, see StaleSession
    void Poll();
    void Adapt(SendStatistics::Clock::time_point now);  // to how the connection keeps up
    void ReportStatistics();
    std::optional<std::chrono::milliseconds> SinceAccepted() const;
    Failure SenderFailure(GstMessage* message) const;
    void Fail(const Failure& failure);  // told as final, then the end on the next turn
    // Runs `task` on the next turn of the loop, unless this object has gone by then: a bus
    // or timer callback never tears down what is calling it.
    void Later(std::function<void()> task);
    void OnSenderEnded(std::uint64_t sender, GstMessageType type, const Failure& failure);
    void AwaitAnswer(std::chrono::milliseconds left);  // the server's to the end of the stream, then End
    void OnCaptureMessage(GstMessage* message);
    void OnSourceChange(const char* source, const std::string& name, const std::string& why, bool refused);
    void OnSenderMessage(GstMessage* message);
    bool OnFlvTag(GstSample* tag);  // capture streaming thread
    void DropSender();
    void End(const Failure& why = {castorn_notification::kReasonStopped, "off air"});

    EngineLoop& m_loop;
    Notifier& m_notifier;
    BackgroundAudio& m_background;
    Phase m_phase = Phase::Idle;
    bool m_endPosted = false;
    PublishAddress m_address;
    std::size_t m_queueLimit = 0;

    ReconnectBackoff m_backoff;
    int m_refusals = 0;  // refused attempts in a row
    guint m_retryTimer = 0;
    guint m_pollTimer = 0;
    guint m_statisticsTimer = 0;
    guint m_endTimer = 0;
    guint m_answerTimer = 0;
    std::vector<std::function<void()>> m_whenStopped;
    std::optional<PublishJob> m_pending;

    // Declared in the order that makes destruction safe by itself: the capture's streaming
    // threads use the sender until the capture is gone, each bus watch goes before its
    // pipeline, and the recorder before the capture it taps.
    RetiredSenders m_retired;
    std::mutex m_senderMutex;  // m_sender is used by the capture's streaming thread too
    std::unique_ptr<RtmpSender> m_sender;
    std::unique_ptr<BusWatch> m_senderWatch;
    std::uint64_t m_senderSerial = 0;  // which sender a message posted for later came from
    bool m_connected = false;
    SendStatistics::Clock::time_point m_connectedAt;
    SendStatistics m_statistics;
    bool m_senderEnded = false;  // its bus said error or end of stream
    std::optional<CongestionControl> m_congestion;
    SenderFlow m_flow;
    SendStatistics::Clock::time_point m_lastDelivery;  // when the network last took anything
    bool m_hadConnection = false;                      // on this stay on air
    std::optional<StaleSession> m_lostSession;         // the last connection given up while on air
    std::unique_ptr<CapturePipeline> m_capture;
    std::unique_ptr<BusWatch> m_captureWatch;
    Recorder m_recorder;                                       // goes first: it takes its tap off the capture
    std::shared_ptr<char> m_alive = std::make_shared<char>();  // tasks posted by Later hold it weakly
};

}  // namespace castorn
