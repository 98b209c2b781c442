#include "castorn/Publisher.h"

#include "castorn/AudioLevel.h"
#include "castorn/BusWatch.h"
#include "castorn/EngineLoop.h"
#include "castorn/FailureReason.h"
#include "castorn/Notifier.h"
#include "castorn/RtmpSender.h"
#include "castorn/background/BackgroundAudio.h"
#include "interface/EngineInterface.h"

#include <algorithm>
#include <malloc.h>

namespace castorn {

namespace cn = castorn_notification;

namespace {

constexpr std::chrono::milliseconds kPollPeriod{100};
constexpr std::chrono::milliseconds kStatisticsPeriod{1000};
// After the end of the stream, how long to wait for the server's answer before closing
// anyway (some servers send none), and how often to look.
constexpr std::chrono::milliseconds kAnswerLimit{1000};
constexpr std::chrono::milliseconds kAnswerPoll{10};
// Refusals in a row (a wrong key, an untrusted certificate) after which the engine stops
// trying: a few, since "Already publishing" clears once the server drops an old session.
constexpr int kRefusalLimit = 3;
constexpr std::size_t kMinQueueLimit = 256 * 1024;
constexpr std::size_t kQueueSeconds = 3;  // of the stream's rate: a sender's queue limit
constexpr std::size_t kBehindShare = 6;   // of the queue limit: a server this far behind is not draining

// A capture error and the last line of its detail.
std::string ErrorText(GstMessage* message)
{
    GError* error = nullptr;
    gchar* debug = nullptr;
    gst_message_parse_error(message, &error, &debug);
    std::string text = error ? error->message : "unknown error";
    const std::string detail = debug ? debug : "";
    const std::string lastLine = detail.substr(detail.find_last_of('\n') + 1);
    if (!lastLine.empty() && lastLine.find("): ") == std::string::npos) text += ": " + lastLine;
    g_clear_error(&error);
    g_free(debug);
    return text;
}

Json::Value Params(std::initializer_list<std::pair<const char*, Json::Value>> members)
{
    Json::Value params(Json::objectValue);
    for (const auto& [name, value] : members) params[name] = value;
    return params;
}

Json::Value FailureParams(const Failure& failure)
{
    return Params({{"reason", failure.reason}, {"message", failure.message}});
}

}  // namespace

Publisher::Publisher(EngineLoop& loop, const std::shared_ptr<Notifier>& notifier, BackgroundAudio& background)
    : m_loop(loop), m_notifier(*notifier), m_background(background), m_retired(loop), m_recorder(loop, notifier)
{}

// The members go in their declared order; only the timers, which call this object, are cancelled first.
Publisher::~Publisher()
{
    for (guint* timer : {&m_retryTimer, &m_pollTimer, &m_statisticsTimer, &m_endTimer, &m_answerTimer})
        m_loop.Cancel(*timer);
}

void Publisher::Later(std::function<void()> task)
{
    m_loop.Post([alive = std::weak_ptr<char>(m_alive), task = std::move(task)] {
        if (alive.lock()) task();
    });
}

void Publisher::Start(PublishJob job)
{
    if (m_phase == Phase::Ending)
        m_pending = std::move(job);
    else if (m_phase == Phase::Idle)
        Begin(std::move(job));
}

void Publisher::Begin(PublishJob job)
{
    m_address = job.address;
    m_notifier.SetSecret(job.address.key);
    const auto& video = job.capture.video;
    const auto& audio = job.capture.audio;
    m_refusals = 0;
    m_hadConnection = false;
    m_lostSession.reset();
    m_queueLimit = std::max<std::size_t>(kMinQueueLimit,
                                         static_cast<std::size_t>(video.bitrate + audio.bitrate) / 8 * kQueueSeconds);
    m_congestion.emplace(
        CongestionControl::Settings{video.bitrate / 1000, audio.bitrate / 1000, job.capture.encoder.adaptiveBitrate});
    if (!StartCapture(job)) return;
    m_phase = Phase::Live;
    m_backoff.Reset();
    m_pollTimer = m_loop.Every(kPollPeriod, [this] { Poll(); });
    Connect();
    if (m_phase != Phase::Live) return;  // the connection failed for good
    std::string why;
    if (!m_capture->Play(why))
        Fail({cn::kReasonCapture, why});
    else
        m_recorder.Attach(m_capture.get());
}

// Builds the capture (not yet playing); false, told and cleaned up, when it cannot be built.
bool Publisher::StartCapture(PublishJob& job)
{
    job.capture.backgroundSource = m_background.StartCapture();
    std::string why;
    m_capture = CapturePipeline::Create(
        job.capture, [this](GstSample* tag) { return OnFlvTag(tag); }, std::move(job.preview),
        [this](const char* source, const std::string& name, const std::string& lost, bool refused) {
            OnSourceChange(source, name, lost, refused);
        },
        why);
    if (m_capture) {
        m_captureWatch = std::make_unique<BusWatch>(m_capture->Pipeline(), m_loop.Context(),
                                                    [this](GstMessage* message) { OnCaptureMessage(message); });
        return true;
    }
    m_notifier.SendPublishError({cn::kReasonCapture, why}, true);
    m_background.StopCapture();
    return false;
}

void Publisher::Connect()
{
    // A sender still being retired may yet publish this stream, and the server
    // refuses a second publisher of it.
    if (m_retired.Waiting() > 0) {
        m_retryTimer = m_loop.After(kPollPeriod, [this] {
            m_retryTimer = 0;
            Connect();
        });
        return;
    }
    std::string why;
    auto sender = RtmpSender::Create(m_address, m_queueLimit, why);
    if (!sender) {
        Fail({cn::kReasonOther, why});
        return;
    }
    m_notifier.Send(cn::kConnecting,
                    Params({{"address", m_address.Describe()}, {"attempt", m_backoff.Attempts() + 1}}));
    ++m_senderSerial;
    m_senderWatch = std::make_unique<BusWatch>(sender->Pipeline(), m_loop.Context(),
                                               [this](GstMessage* message) { OnSenderMessage(message); });
    const bool started = sender->Start(why);
    {
        std::lock_guard lock(m_senderMutex);
        m_sender = std::move(sender);
    }
    if (!started) Lost({cn::kReasonOther, why});
}

bool Publisher::OnFlvTag(GstSample* tag)
{
    std::lock_guard lock(m_senderMutex);
    return m_sender && m_sender->Send(tag) == RtmpSender::Push::NeedKeyFrame;
}

void Publisher::DropSender()
{
    std::unique_ptr<RtmpSender> sender;
    {
        std::lock_guard lock(m_senderMutex);
        sender = std::move(m_sender);
    }
    m_senderWatch.reset();
    m_loop.Cancel(m_statisticsTimer);
    if (sender && !m_connected && !m_senderEnded) m_retired.Add(std::move(sender));
    sender.reset();  // outside the lock: going to NULL may take a moment
    m_connected = false;
    m_senderEnded = false;
    m_flow = {};
}

void Publisher::Lost(const Failure& failure)
{
    const bool wasConnected = m_connected;
    const auto session = m_sender ? m_sender->Abandon() : std::nullopt;
    if (wasConnected) m_lostSession = session;
    DropSender();
    if (wasConnected) m_notifier.Send(cn::kDisconnected, FailureParams(failure));
    // Our own lost session may hold the stream at the server a while yet: that is no refusal.
    const bool oursHeld = m_hadConnection && AlreadyPublishing(failure);
    if (oursHeld) EndLostSession();
    const bool refusal = (failure.reason == cn::kReasonRejected && !oursHeld) || failure.reason == cn::kReasonTls;
    m_refusals = refusal ? m_refusals + 1 : 0;
    // A stream that has been on air keeps trying: the uplink may come back any time.
    const bool final = !m_hadConnection && m_refusals >= kRefusalLimit;
    const Failure told =
        wasConnected ? failure
                     : Failure{failure.reason, "cannot publish to " + m_address.Describe() + ": " + failure.message};
    if (!wasConnected || refusal) m_notifier.SendPublishError(told, final);
    // Given up: the capture goes on, the reason stays the last word until off air.
    if (!final) ScheduleRetry(told);
}

// Once per loss: should the server hold on regardless (another publisher under our name),
// the attempts space out as after any failure.
void Publisher::EndLostSession()
{
    if (!m_lostSession) return;
    m_lostSession->End();
    m_lostSession.reset();
    m_backoff.Reset();
}

void Publisher::ScheduleRetry(const Failure& failure)
{
    const auto delay = m_backoff.Next();
    Json::Value params = FailureParams(failure);
    params["attempt"] = m_backoff.Attempts();
    params["delayMs"] = static_cast<Json::Int64>(delay.count());
    m_notifier.Send(cn::kReconnecting, params);
    m_retryTimer = m_loop.After(delay, [this] {
        m_retryTimer = 0;
        Connect();
    });
}

void Publisher::OnSourceChange(const char* source, const std::string& name, const std::string& why, bool refused)
{
    if (why.empty()) {
        m_notifier.Send(cn::kSourceBack, Params({{"source", source}, {"name", name}}));
        return;
    }
    Json::Value params = Params({{"source", source}, {"name", name}, {"message", why}});
    if (refused) params["reason"] = cn::kReasonDenied;
    m_notifier.Send(cn::kSourceLost, params);
}

void Publisher::Poll()
{
    if (m_capture) m_capture->TendSources();
    if (!m_sender || m_phase != Phase::Live) return;
    const auto now = SendStatistics::Clock::now();
    if (!m_connected && m_sender->Connected()) {
        m_connected = true;
        m_hadConnection = true;
        m_lostSession.reset();
        m_connectedAt = now;
        m_lastDelivery = now;
        m_congestion->Restart(now, m_sender->Flow().delivered);
        // After a refusal the delays keep growing until a connection holds.
        if (m_refusals == 0) m_backoff.Reset();
        m_statistics.Begin(now, m_sender->Counters().bytesWritten);
        m_statisticsTimer = m_loop.Every(kStatisticsPeriod, [this] { ReportStatistics(); });
        m_notifier.Send(cn::kConnected, Params({{"address", m_address.Describe()}}));
    }
    if (m_connected && m_refusals > 0 && now - m_connectedAt >= kRefusalWindow) {
        m_refusals = 0;
        m_backoff.Reset();
    }
    if (m_connected) Adapt(now);
}

void Publisher::Adapt(SendStatistics::Clock::time_point now)
{
    const SenderFlow flow = m_sender->Flow();
    if (flow.delivered != m_flow.delivered || flow.waiting == 0) m_lastDelivery = now;
    m_flow = flow;
    // Slow is not dead: only a connection that has taken nothing at all for long is given up.
    if (now - m_lastDelivery >= RtmpSender::kSilenceLimit) {
        Lost({cn::kReasonLost, "the server stopped taking data"});
        return;
    }
    const int rate = m_congestion->VideoKbps();
    m_congestion->Update(now, flow.behind, flow.delivered, flow.waiting);
    m_sender->DropVideo(m_congestion->DropVideo());
    m_sender->FitSocket(m_congestion->VideoKbps() + m_congestion->AudioKbps());
    if (m_congestion->VideoKbps() != rate) m_capture->SetVideoBitrate(m_congestion->VideoKbps());
}

void Publisher::ReportStatistics()
{
    if (!m_sender || !m_connected) return;
    SenderCounters counters = m_sender->Counters();
    counters.bytesQueued = m_flow.waiting;
    Json::Value params = m_statistics.Sample(SendStatistics::Clock::now(), counters);
    params["videoKbps"] = m_congestion->VideoKbps();
    params["videoKbpsSet"] = m_congestion->SetKbps();
    params["backlogMs"] = static_cast<Json::Int64>(m_congestion->Backlog().count());
    params["congested"] = m_congestion->Congested();
    m_notifier.Send(cn::kStatistics, params);
}

std::optional<std::chrono::milliseconds> Publisher::SinceAccepted() const
{
    using std::chrono::milliseconds;
    if (m_connected) return std::chrono::duration_cast<milliseconds>(SendStatistics::Clock::now() - m_connectedAt);
    if (m_sender && m_sender->Connected()) return milliseconds(0);
    return std::nullopt;
}

void Publisher::OnCaptureMessage(GstMessage* message)
{
    if (const auto percent = LevelPercent(message)) {
        m_notifier.Send(cn::kAudioPercent, Params({{"percent", *percent}}));
        return;
    }
    if (m_capture->TakeSourceMessage(message)) return;
    if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_ERROR)
        Fail({cn::kReasonCapture, "capture: " + ErrorText(message)});
    else if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_EOS && m_phase == Phase::Ending) {
        // Everything captured is muxed: let the sender finish, or end now without one.
        if (m_sender && m_connected)
            m_sender->Finish();
        else
            Later([this] { End(); });
    }
}

void Publisher::OnSenderMessage(GstMessage* message)
{
    const GstMessageType type = GST_MESSAGE_TYPE(message);
    if (type != GST_MESSAGE_ERROR && type != GST_MESSAGE_EOS) return;
    m_senderEnded = true;
    const Failure failure =
        type == GST_MESSAGE_EOS ? Failure{cn::kReasonLost, "the stream ended"} : SenderFailure(message);
    Later([this, sender = m_senderSerial, type, failure] { OnSenderEnded(sender, type, failure); });
}

void Publisher::OnSenderEnded(std::uint64_t sender, GstMessageType type, const Failure& failure)
{
    if (sender != m_senderSerial || !m_sender) return;  // told already, by an earlier message of the same sender
    if (m_phase == Phase::Live)
        Lost(failure);
    else if (type == GST_MESSAGE_EOS && m_connected)
        AwaitAnswer(kAnswerLimit);  // off air: the end is written, the server's answer may follow
    else
        End();
}

void Publisher::AwaitAnswer(std::chrono::milliseconds left)
{
    if (m_sender->AnsweredFinish() || left <= std::chrono::milliseconds(0)) {
        End();
        return;
    }
    m_answerTimer = m_loop.After(kAnswerPoll, [this, left] {
        m_answerTimer = 0;
        AwaitAnswer(left - kAnswerPoll);
    });
}

Failure Publisher::SenderFailure(GstMessage* message) const
{
    GError* error = nullptr;
    gchar* debug = nullptr;
    gst_message_parse_error(message, &error, &debug);
    Failure failure = error ? ClassifySenderError(*error, debug ? debug : "", SinceAccepted())
                            : Failure{cn::kReasonOther, "unknown error"};
    g_clear_error(&error);
    g_free(debug);
    return failure;
}

void Publisher::Fail(const Failure& failure)
{
    if (m_endPosted || m_phase == Phase::Idle) return;
    m_notifier.SendPublishError(failure, true);
    m_endPosted = true;
    m_phase = Phase::Ending;
    m_loop.Cancel(m_retryTimer);
    Later([this, failure] { End(failure); });
}

void Publisher::Stop(std::chrono::milliseconds grace, std::function<void()> stopped)
{
    if (m_phase == Phase::Idle) {
        m_pending.reset();
        stopped();
        return;
    }
    m_whenStopped.push_back(std::move(stopped));
    m_pending.reset();
    if (m_phase == Phase::Ending) return;
    m_phase = Phase::Ending;
    m_loop.Cancel(m_retryTimer);
    // A clean end needs a server that takes data and a capture under way: with no
    // server, one that has fallen behind, or a capture still starting, there is
    // nothing to wait for.
    if (!m_connected || m_sender->Queued() > m_queueLimit / kBehindShare || !m_capture->EndStream()) {
        End();
        return;
    }
    m_endTimer = m_loop.After(grace, [this] {
        m_endTimer = 0;
        End();
    });
}

void Publisher::End(const Failure& why)
{
    if (m_phase == Phase::Idle) return;
    m_endPosted = false;
    const bool wasConnected = m_connected;
    m_loop.Cancel(m_retryTimer);
    m_loop.Cancel(m_pollTimer);
    m_loop.Cancel(m_endTimer);
    m_loop.Cancel(m_answerTimer);
    DropSender();
    m_recorder.Attach(nullptr);
    m_captureWatch.reset();
    m_capture.reset();
    m_background.StopCapture();
    m_phase = Phase::Idle;
    if (wasConnected) m_notifier.Send(cn::kDisconnected, FailureParams(why));
    m_notifier.Send(cn::kPublishStopped, Json::Value(Json::objectValue));
    // A torn-down pipeline frees a lot at once; hand it back rather than let every
    // on-air period raise the process's footprint.
    malloc_trim(0);
    const auto waiting = std::move(m_whenStopped);
    m_whenStopped.clear();
    for (const auto& stopped : waiting) stopped();
    if (m_pending) {
        PublishJob job = std::move(*m_pending);
        m_pending.reset();
        Begin(std::move(job));
    }
}

}  // namespace castorn
