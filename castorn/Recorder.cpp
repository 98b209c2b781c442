#include "castorn/Recorder.h"

#include "castorn/BusWatch.h"
#include "castorn/CapturePipeline.h"
#include "castorn/EngineLoop.h"
#include "castorn/LingeringWork.h"
#include "castorn/Mp4Defragmenter.h"
#include "castorn/Notifier.h"
#include "interface/EngineInterface.h"

#include <cstdlib>

namespace castorn {

namespace cn = castorn_notification;

namespace {

std::string FolderOrHome(const std::string& folder)
{
    if (!folder.empty()) return folder;
    const char* home = std::getenv("HOME");
    return home && *home ? home : ".";
}

Json::Value PathParams(const std::string& path)
{
    Json::Value params(Json::objectValue);
    params["path"] = path;
    return params;
}

void TellFailed(Notifier& notifier, RecordingTrouble trouble, const std::string& path, const std::string& why)
{
    Json::Value params = PathParams(path);
    params["reason"] = trouble == RecordingTrouble::DiskFull ? cn::kRecordingDiskFull : cn::kRecordingCannotWrite;
    params["message"] = why;
    notifier.Send(cn::kRecordingFailed, params);
}

}  // namespace

Recorder::Recorder(EngineLoop& loop, std::shared_ptr<Notifier> notifier) : m_loop(loop), m_notifier(std::move(notifier))
{}

Recorder::~Recorder()
{
    Attach(nullptr);
}

void Recorder::Configure(bool on, std::string folder)
{
    m_folder = std::move(folder);
    if (on == m_on) return;
    m_on = on;
    if (!m_capture) return;
    if (on)
        Begin();
    else
        End();
}

void Recorder::Attach(CapturePipeline* capture)
{
    if (capture == m_capture) return;
    if (m_capture) End();
    m_capture = capture;
    if (m_capture && m_on) Begin();
}

void Recorder::Begin()
{
    RecordingTrouble trouble = RecordingTrouble::None;
    std::string why;
    const std::string folder = FolderOrHome(m_folder);
    std::shared_ptr<RecordingFile> file = RecordingFile::Create(folder, trouble, why);
    if (!file) {
        TellFailed(*m_notifier, trouble, folder, why);
        return;
    }
    m_watch = std::make_unique<BusWatch>(file->Pipeline(), m_loop.Context(),
                                         [this](GstMessage* message) { OnMessage(message); });
    if (!file->Start(why)) {
        m_watch.reset();
        TellFailed(*m_notifier, RecordingTrouble::CannotWrite, file->Path(), why);
        return;
    }
    m_file = file;
    m_capture->TapEncoded(
        [file](CapturePipeline::Track track, GstPad* pad, GstBuffer* buffer) { file->Push(track, pad, buffer); });
    m_capture->RequestKeyFrame();
    m_notifier->Send(cn::kRecordingStarted, PathParams(file->Path()));
}

void Recorder::End()
{
    if (!m_file) return;
    m_capture->TapEncoded({});
    m_watch.reset();
    // Off the loop: a slow disk holds up only this, a long recording takes a while to copy,
    // and going off air or releasing the engine waits for neither.
    LingeringWork::Start("castorn-mp4", [file = std::move(m_file), notifier = m_notifier]() mutable {
        const std::string path = file->Path();
        const bool written = file->Finish(kFinishLimit);
        file.reset();
        if (!written) {
            TellFailed(*notifier, RecordingTrouble::CannotWrite, path, "the end of the recording could not be written");
            return;
        }
        notifier->Send(cn::kRecordingStopped, PathParams(path));
        std::string why;
        Json::Value params = PathParams(path);
        params["ordinary"] = DefragmentMp4(path, why);
        params["message"] = why;
        notifier->Send(cn::kRecordingFinalized, params);
    });
}

void Recorder::OnMessage(GstMessage* message)
{
    if (GST_MESSAGE_TYPE(message) != GST_MESSAGE_ERROR || !m_file) return;
    GError* error = nullptr;
    gst_message_parse_error(message, &error, nullptr);
    const std::string why = error ? error->message : "unknown error";
    g_clear_error(&error);
    const RecordingTrouble trouble = TroubleOf(message);
    // What was written up to here stays readable: the fragments before the failure are whole.
    m_capture->TapEncoded({});
    const std::string path = m_file->Path();
    // Not from inside the watch's own dispatch: both go on the next turn of the loop.
    m_loop.Post([file = std::move(m_file), watch = std::shared_ptr<BusWatch>(std::move(m_watch))]() mutable {
        watch.reset();
        file->Abandon();
    });
    TellFailed(*m_notifier, trouble, path, why);
}

}  // namespace castorn
