#include "castorn/Publisher.h"

#include "castorn/AudioLevel.h"
#include "castorn/BusWatch.h"
#include "castorn/EngineLoop.h"
#include "castorn/Notifier.h"
#include "castorn/PreviewWindow.h"
#include "castorn/RtmpSender.h"
#include "castorn/background/BackgroundAudio.h"
#include "engine/EngineInterface.h"

#include <algorithm>
#include <malloc.h>

namespace castorn {

namespace {

constexpr std::chrono::milliseconds kPollPeriod{100};
constexpr std::size_t kMinQueueLimit = 256 * 1024;
constexpr std::size_t kBehindShare = 6;  // of the queue limit: a server this far behind is not draining

// "Could not connect: Connection refused": the error and the last line of its detail.
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

}  // namespace

Publisher::Publisher(EngineLoop& loop, Notifier& notifier, BackgroundAudio& background)
    : m_loop(loop), m_notifier(notifier), m_background(background), m_retired(loop)
{
}

Publisher::~Publisher()
{
    m_loop.Cancel(m_retryTimer);
    m_loop.Cancel(m_pollTimer);
    m_loop.Cancel(m_endTimer);
    DropSender();
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
    m_queueLimit = std::max<std::size_t>(
        kMinQueueLimit, static_cast<std::size_t>(video.bitrate + audio.bitrate) / 8 * kStallLimit.count() / 1000);
    if (!StartCapture(job)) return;
    m_phase = Phase::Live;
    m_backoff.Reset();
    m_pollTimer = m_loop.Every(kPollPeriod, [this] { Poll(); });
    Connect();
    std::string why;
    if (!m_capture->Play(why)) {
        m_notifier.SendError(why);
        End();
    }
}

// Builds the capture (not yet playing); false, told and cleaned up, when it cannot be built.
bool Publisher::StartCapture(PublishJob& job)
{
    job.capture.backgroundSource = m_background.StartCapture();
    m_preview = PreviewWindow::Open(job.previewWindow);
    if (m_preview)
        m_preview->FitPicture(job.capture.video.width, job.capture.video.height, job.capture.previewWidth,
                              job.capture.previewHeight);
    std::string why;
    PreviewWindow* preview = m_preview.get();
    m_capture = CapturePipeline::Create(
        job.capture, [this](GstSample* tag) { return OnFlvTag(tag); },
        [preview](GstSample* frame) { preview->Show(frame); },
        [this](const char* source, const std::string& name, const std::string& lost) {
            OnSourceChange(source, name, lost);
        },
        why);
    if (m_capture) {
        m_captureWatch = std::make_unique<BusWatch>(m_capture->Pipeline(), m_loop.Context(),
                                                    [this](GstMessage* message) { OnCaptureMessage(message); });
        return true;
    }
    m_notifier.SendError(why);
    m_preview.reset();
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
        m_notifier.SendError(why);
        End();
        return;
    }
    m_notifier.Send(Notifier::kConnecting,
                    Params({{"address", m_address.Describe()}, {"attempt", m_backoff.Attempts() + 1}}));
    m_senderWatch = std::make_unique<BusWatch>(sender->Pipeline(), m_loop.Context(),
                                               [this](GstMessage* message) { OnSenderMessage(message); });
    const bool started = sender->Start(why);
    {
        std::lock_guard lock(m_senderMutex);
        m_sender = std::move(sender);
    }
    if (!started) Lost(why);
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
    if (sender && !m_connected && !m_senderEnded) m_retired.Add(std::move(sender));
    sender.reset();  // outside the lock: going to NULL may take a moment
    m_connected = false;
    m_senderEnded = false;
    m_stalledPolls = 0;
}

void Publisher::Lost(const std::string& why)
{
    const bool wasConnected = m_connected;
    DropSender();
    if (wasConnected)
        m_notifier.Send(Notifier::kDisconnected, Params({{"reason", why}}));
    else
        m_notifier.SendError("cannot publish to " + m_address.Describe() + ": " + why);
    ScheduleRetry();
}

void Publisher::ScheduleRetry()
{
    const auto delay = m_backoff.Next();
    m_notifier.Send(Notifier::kReconnecting,
                    Params({{"attempt", m_backoff.Attempts()}, {"delayMs", static_cast<Json::Int64>(delay.count())}}));
    m_retryTimer = m_loop.After(delay, [this] {
        m_retryTimer = 0;
        Connect();
    });
}

void Publisher::OnSourceChange(const char* source, const std::string& name, const std::string& why)
{
    if (why.empty())
        m_notifier.Send(castorn_notification::kSourceBack, Params({{"source", source}, {"name", name}}));
    else
        m_notifier.Send(castorn_notification::kSourceLost,
                        Params({{"source", source}, {"name", name}, {"message", why}}));
}

void Publisher::Poll()
{
    if (m_capture) m_capture->TendSources();
    if (!m_sender || m_phase != Phase::Live) return;
    if (!m_connected && m_sender->Connected()) {
        m_connected = true;
        m_backoff.Reset();
        m_notifier.Send(Notifier::kConnected, Params({{"address", m_address.Describe()}}));
    }
    m_stalledPolls = (m_connected && m_sender->Queued() > m_queueLimit) ? m_stalledPolls + 1 : 0;
    if (m_stalledPolls * kPollPeriod >= kStallLimit) Lost("the server stopped taking data");
}

void Publisher::OnCaptureMessage(GstMessage* message)
{
    if (const auto percent = LevelPercent(message)) {
        m_notifier.Send(Notifier::kAudioPercent, Params({{"percent", *percent}}));
        return;
    }
    if (m_capture->TakeSourceMessage(message)) return;
    if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_ERROR) {
        m_notifier.SendError("capture: " + ErrorText(message));
        End();
    } else if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_EOS && m_phase == Phase::Ending) {
        // Everything captured is muxed: let the sender finish, or end now without one.
        if (m_sender && m_connected)
            m_sender->Finish();
        else
            End();
    }
}

void Publisher::OnSenderMessage(GstMessage* message)
{
    const GstMessageType type = GST_MESSAGE_TYPE(message);
    if (type != GST_MESSAGE_ERROR && type != GST_MESSAGE_EOS) return;
    m_senderEnded = true;
    if (m_phase == Phase::Live)
        Lost(type == GST_MESSAGE_ERROR ? ErrorText(message) : "the stream ended");
    else
        End();
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
    // A clean end needs a server that takes data: with none, or one that has fallen
    // behind, there is nothing to wait for.
    if (!m_connected || m_sender->Queued() > m_queueLimit / kBehindShare) {
        End();
        return;
    }
    m_capture->EndStream();
    m_endTimer = m_loop.After(grace, [this] {
        m_endTimer = 0;
        End();
    });
}

void Publisher::End()
{
    const bool wasConnected = m_connected;
    m_loop.Cancel(m_retryTimer);
    m_loop.Cancel(m_pollTimer);
    m_loop.Cancel(m_endTimer);
    DropSender();
    m_captureWatch.reset();
    m_capture.reset();
    m_preview.reset();
    m_background.StopCapture();
    m_phase = Phase::Idle;
    if (wasConnected) m_notifier.Send(Notifier::kDisconnected, Params({{"reason", "stopped"}}));
    m_notifier.Send(Notifier::kStopped, Json::Value(Json::objectValue));
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
