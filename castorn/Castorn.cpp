#include "castorn/Castorn.h"

#include "castorn/EngineLoop.h"
#include "castorn/GstRuntime.h"
#include "castorn/LingeringWork.h"
#include "castorn/PublishAddress.h"
#include "castorn/Publisher.h"
#include "castorn/background/BackgroundAudio.h"
#include "castorn/text/NarrowText.h"

#include <algorithm>
#include <future>

namespace castorn {

namespace {

// A clean end lets the server close the recording; a hung server gets no more than this.
constexpr std::chrono::milliseconds kStopGrace{3000};
constexpr std::chrono::milliseconds kReleaseGrace{1000};
// How long Release keeps the caller: what is not over by then ends on the engine's own
// threads (a hung device, sound server, X server or RTMP server).
constexpr std::chrono::milliseconds kReleaseLimit{200};

std::string Text(const char* text)
{
    return text ? text : "";
}

}  // namespace

Castorn::Castorn(ICastornNotify* notify)
    : m_sharedNotifier(std::make_shared<Notifier>(notify)),
      m_notifier(*m_sharedNotifier),
      m_commands({[this] { return m_devices.Players(); },
                  [this](const std::string& name) { m_loop->Post([this, name] { m_background->SelectPlayer(name); }); },
                  [this](bool on, const std::string& folder) {
                      m_loop->Post([this, on, folder] { m_publisher->SetRecording(on, folder); });
                  },
                  [this](ICastornPreview* receiver, int width, int height) {
                      m_preview->SetReceiver(receiver, {width, height});
                  }}),
      m_background(std::make_unique<BackgroundAudio>(
          [notifier = m_sharedNotifier](const std::string& json) { notifier->SendText(json); })),
      m_loop(std::make_unique<EngineLoop>())
{
    m_publisher = std::make_unique<Publisher>(*m_loop, m_sharedNotifier, *m_background);
    m_loop->Post(PreloadPlugins);
}

Castorn::~Castorn() = default;

bool Castorn::ExecuteCommand(const char* command, char** reply)
{
    return m_commands.Execute(command, reply, kCommandReplySize);
}

bool Castorn::StartPublish()
{
    Failure why{castorn_notification::kReasonOther, "already on air"};
    // Refused here, before anything reaches the server: a stream that cannot be
    // watched is never shown as live.
    const auto refusal = m_onAir ? std::optional(why) : Refusal(m_video, m_audio);
    const auto address = refusal ? std::nullopt : ParsePublishAddress(m_server, m_application, m_stream, why);
    if (!address) {
        // From here, not the loop: the loop may still be busy loading plugins or stopping.
        m_notifier.SendPublishError(refusal.value_or(why), true);
        return false;
    }
    PublishJob job;
    job.capture.video = Fit(m_video);
    job.capture.audio = Fit(m_audio);
    job.capture.encoder = m_commands.Encoder();
    job.capture.videoSource = m_devices.Video();
    job.capture.audioSource = m_devices.Audio();
    job.address = *address;
    std::uint64_t serial = 0;
    const PreviewOutlet::Size preview =
        m_preview->Open(m_video.window, job.capture.video.width, job.capture.video.height, serial);
    job.capture.previewWidth = preview.width;
    job.capture.previewHeight = preview.height;
    job.preview = [outlet = m_preview, serial](GstSample* picture) { outlet->Show(serial, picture); };
    m_onAir = true;
    m_loop->Post([this, job] { m_publisher->Start(job); });
    return true;
}

bool Castorn::StopPublish()
{
    if (!m_onAir) return false;
    m_onAir = false;
    m_preview->Close();
    m_loop->Post([this] { m_publisher->Stop(kStopGrace, [] {}); });
    return true;
}

void Castorn::Release()
{
    const auto start = std::chrono::steady_clock::now();
    auto done = std::make_shared<std::promise<void>>();
    std::shared_future<void> finished = done->get_future().share();
    m_loop->Post([this, done] {
        m_publisher->Stop(kReleaseGrace, [this, done] {
            // Not from inside the publisher's own call: free it on the next turn of the loop.
            m_loop->Post([this, done] {
                m_publisher.reset();
                // Leaving the sound server as it was takes a few requests that a hung server holds up.
                LingeringWork::Start("castorn-bgquit", [background = std::shared_ptr<BackgroundAudio>(std::move(
                                                            m_background))]() mutable { background.reset(); });
                done->set_value();
            });
        });
    });
    // From a notification handler on the loop's thread nothing can end until it returns.
    const bool over =
        !m_loop->OnLoopThread() && finished.wait_until(start + kReleaseLimit) == std::future_status::ready;
    // The program's handler and preview receiver may be gone once this returns.
    m_preview->SetReceiver(nullptr, {});
    m_notifier.Close();
    if (over) {
        Destroy();
        return;
    }
    LingeringWork::Start("castorn-release", [this, finished] {
        finished.wait();
        Destroy();
    });
}

void Castorn::Destroy()
{
    // Nothing of the engine's runs once it is gone.
    m_loop.reset();
    delete this;
}

bool Castorn::GetVideoDevices(const char16_t*** names, unsigned* count)
{
    m_devices.ListVideo(names, count);
    return true;
}

bool Castorn::GetAudioDevices(const char16_t*** names, unsigned* count)
{
    m_devices.ListAudio(names, count);
    return true;
}

bool Castorn::SelectVideoDevice(int index)
{
    return m_devices.SelectVideo(index);
}

bool Castorn::SelectAudioDevice(int index)
{
    return m_devices.SelectAudio(index);
}

bool Castorn::SetAudioParams(int sampleRate, int channels, int bitsPerSample, int bitrate, int volume, bool mute)
{
    m_audio = {sampleRate, channels, bitsPerSample, bitrate, volume, mute};
    return true;
}

bool Castorn::SetVideoParams(int width, int height, int fps, int bitrate, WindowHandle frame, int interval)
{
    m_video = {width, height, fps, bitrate, interval, frame};
    return true;
}

bool Castorn::SetPublishAddress(const char* server, const char* app, const char* stream)
{
    m_server = Text(server);
    m_application = Text(app);
    m_stream = Text(stream);
    Failure why;
    return ParsePublishAddress(m_server, m_application, m_stream, why).has_value();
}

// The two values the program passes here, and the user id, mean nothing to an RTMP publish.
bool Castorn::SetAuxParams(int, int)
{
    return true;
}

bool Castorn::SetUserId(const char*)
{
    return true;
}

bool Castorn::SetBackgroundAudioOption(int option)
{
    return option == 0;
}

bool Castorn::GetNameList(std::vector<std::string>& names)
{
    names = m_devices.Players();
    std::transform(names.begin(), names.end(), names.begin(), Utf8ToNarrow);
    return true;
}

bool Castorn::EnableBackgroundAudio(bool on)
{
    m_loop->Post([this, on] { m_background->Enable(on); });
    return true;
}

}  // namespace castorn

extern "C" __attribute__((visibility("default"))) ICastorn* CreateCastorn(ICastornNotify* notify)
{
    std::string why;
    if (!castorn::InitGstreamer(why)) return nullptr;
    try {
        return new castorn::Castorn(notify);
    } catch (const std::exception&) {
        return nullptr;
    }
}
