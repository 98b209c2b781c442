#include "castorn/RecordingFile.h"

#include "castorn/GstRef.h"
#include "castorn/Mp4Box.h"

#include <gst/app/gstappsrc.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <ctime>

namespace castorn {

namespace {

// What may wait for a slow disk before the oldest goes: seconds of any stream.
constexpr guint64 kBacklogBytes = 32 * 1024 * 1024;
constexpr int kMaxSameNames = 1000;

std::string LocalTimeName()
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[64];
    std::strftime(text, sizeof text, "publish_tavisk %Y-%m-%d %H-%M-%S", &local);
    return text;
}

RecordingTrouble TroubleOfErrno(int error)
{
    return error == ENOSPC || error == EDQUOT ? RecordingTrouble::DiskFull : RecordingTrouble::CannotWrite;
}

// Made here, so that no other recording's name is taken; the muxer's sink opens it again.
std::string ReserveName(const std::string& folder, RecordingTrouble& trouble, std::string& why)
{
    const std::string stem = folder + (folder.empty() || folder.back() != '/' ? "/" : "") + LocalTimeName();
    for (int n = 1; n <= kMaxSameNames; ++n) {
        const std::string path = stem + (n == 1 ? "" : " (" + std::to_string(n) + ")") + ".mp4";
        const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd >= 0) {
            close(fd);
            return path;
        }
        if (errno == EEXIST) continue;
        trouble = TroubleOfErrno(errno);
        why = path + ": " + std::strerror(errno);
        return {};
    }
    trouble = RecordingTrouble::CannotWrite;
    why = stem + ": too many recordings of that name";
    return {};
}

// As the muxer of the stream sees it: the pad's offset included.
GstClockTime RunningTime(GstPad* pad, const GstSegment* segment, GstClockTime time)
{
    if (!segment || !GST_CLOCK_TIME_IS_VALID(time)) return GST_CLOCK_TIME_NONE;
    guint64 running = 0;
    const int sign = gst_segment_to_running_time_full(segment, GST_FORMAT_TIME, time, &running);
    if (sign == 0) return GST_CLOCK_TIME_NONE;
    const gint64 shifted =
        (sign > 0 ? static_cast<gint64>(running) : -static_cast<gint64>(running)) + gst_pad_get_offset(pad);
    return shifted > 0 ? static_cast<GstClockTime>(shifted) : 0;
}

// Shifted to the recording's start; what would fall before it, at it.
GstClockTime FromStart(GstClockTime running, GstClockTime start)
{
    if (!GST_CLOCK_TIME_IS_VALID(running)) return GST_CLOCK_TIME_NONE;
    return running > start ? running - start : 0;
}

// Cuts the file after its last whole top-level box; a fragment's header whose data
// did not fit goes with it.
void CutToWholeBoxes(const std::string& path)
{
    const int fd = open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) return;
    struct stat stats {};
    fstat(fd, &stats);
    const auto size = static_cast<std::uint64_t>(stats.st_size);
    std::uint64_t at = 0;
    std::uint64_t fragmentAt = 0;  // where the last "moof" began
    char header[16];
    for (ssize_t got; (got = pread(fd, header, sizeof header, static_cast<off_t>(at))) >= 8;) {
        Mp4Box box;
        if (!ReadBoxHeader(std::string_view(header, static_cast<std::size_t>(got)), at, size - at, box)) {
            if (box.type == "mdat" && fragmentAt > 0) at = fragmentAt;
            break;
        }
        if (box.type == "moof") fragmentAt = at;
        at = box.End();
    }
    if (at < size && ftruncate(fd, static_cast<off_t>(at)) != 0) {
        // Left as it is: a reader still gets what comes before the broken box.
    }
    close(fd);
}

}  // namespace

RecordingTrouble TroubleOf(GstMessage* error)
{
    GError* detail = nullptr;
    gst_message_parse_error(error, &detail, nullptr);
    const bool full =
        detail && detail->domain == GST_RESOURCE_ERROR && detail->code == GST_RESOURCE_ERROR_NO_SPACE_LEFT;
    g_clear_error(&detail);
    return full ? RecordingTrouble::DiskFull : RecordingTrouble::CannotWrite;
}

RecordingFile::RecordingFile(std::string path)
    : m_path(std::move(path)), m_pipeline(GST_ELEMENT(gst_object_ref_sink(gst_pipeline_new("castorn-recording"))))
{}

RecordingFile::~RecordingFile()
{
    gst_element_set_state(m_pipeline, GST_STATE_NULL);
    gst_object_unref(m_pipeline);
}

std::unique_ptr<RecordingFile> RecordingFile::Create(const std::string& folder, RecordingTrouble& trouble,
                                                     std::string& why)
{
    const std::string path = ReserveName(folder, trouble, why);
    if (path.empty()) return nullptr;
    std::unique_ptr<RecordingFile> file(new RecordingFile(path));
    if (file->Build(why)) return file;
    trouble = RecordingTrouble::CannotWrite;
    unlink(path.c_str());
    return nullptr;
}

bool RecordingFile::Build(std::string& why)
{
    GstElement* mux = gst_element_factory_make("mp4mux", nullptr);
    GstElement* sink = gst_element_factory_make("filesink", nullptr);
    GstElement* video = gst_element_factory_make("appsrc", nullptr);
    GstElement* audio = gst_element_factory_make("appsrc", nullptr);
    if (!mux || !sink || !video || !audio) {
        for (GstElement* made : {mux, sink, video, audio})
            if (made) gst_object_unref(gst_object_ref_sink(made));
        why = "the GStreamer elements mp4mux, filesink and appsrc are needed to record";
        return false;
    }
    g_object_set(mux, "fragment-duration", kFragmentMs, nullptr);
    g_object_set(sink, "location", m_path.c_str(), "sync", FALSE, "async", FALSE, nullptr);
    gst_util_set_object_arg(G_OBJECT(sink), "buffer-mode", "unbuffered");
    m_sources[static_cast<int>(CapturePipeline::Track::Video)] = video;
    m_sources[static_cast<int>(CapturePipeline::Track::Audio)] = audio;
    gst_bin_add_many(GST_BIN(m_pipeline), video, audio, mux, sink, nullptr);
    for (GstElement* source : {video, audio}) {
        g_object_set(source, "format", GST_FORMAT_TIME, "max-bytes", kBacklogBytes, "block", FALSE, nullptr);
        gst_util_set_object_arg(G_OBJECT(source), "leaky-type", "downstream");
    }
    if (gst_element_link_pads(video, "src", mux, "video_%u") && gst_element_link_pads(audio, "src", mux, "audio_%u") &&
        gst_element_link(mux, sink))
        return true;
    why = "cannot link the recording's muxer";
    return false;
}

bool RecordingFile::Start(std::string& why)
{
    if (gst_element_set_state(m_pipeline, GST_STATE_PLAYING) != GST_STATE_CHANGE_FAILURE) return true;
    why = "cannot write " + m_path;
    return false;
}

void RecordingFile::Push(CapturePipeline::Track track, GstPad* pad, GstBuffer* buffer)
{
    const int index = static_cast<int>(track);
    const bool video = track == CapturePipeline::Track::Video;
    const EventRef segmentEvent(gst_pad_get_sticky_event(pad, GST_EVENT_SEGMENT, 0));
    const GstSegment* segment = nullptr;
    if (segmentEvent) gst_event_parse_segment(segmentEvent.get(), &segment);
    const GstClockTime pts = RunningTime(pad, segment, GST_BUFFER_PTS(buffer));
    const GstClockTime dts = RunningTime(pad, segment, GST_BUFFER_DTS(buffer));
    if (!GST_CLOCK_TIME_IS_VALID(m_start)) {
        if (!video || GST_BUFFER_FLAG_IS_SET(buffer, GST_BUFFER_FLAG_DELTA_UNIT)) return;
        m_start = GST_CLOCK_TIME_IS_VALID(dts) ? dts : pts;
        if (!GST_CLOCK_TIME_IS_VALID(m_start)) return;
    }
    if (!video && (!GST_CLOCK_TIME_IS_VALID(pts) || pts < m_start)) return;
    if (!m_capsSet[index]) {
        const CapsRef caps(gst_pad_get_current_caps(pad));
        if (!caps) return;
        gst_app_src_set_caps(GST_APP_SRC(m_sources[index]), caps.get());
        m_capsSet[index] = true;
    }
    GstBuffer* copy = gst_buffer_copy(buffer);
    GST_BUFFER_PTS(copy) = FromStart(pts, m_start);
    GST_BUFFER_DTS(copy) = FromStart(dts, m_start);
    gst_app_src_push_buffer(GST_APP_SRC(m_sources[index]), copy);
}

void RecordingFile::Abandon()
{
    gst_element_set_state(m_pipeline, GST_STATE_NULL);
    CutToWholeBoxes(m_path);
}

bool RecordingFile::Finish(std::chrono::milliseconds limit)
{
    for (GstElement* source : m_sources) gst_app_src_end_of_stream(GST_APP_SRC(source));
    const BusRef bus(gst_element_get_bus(m_pipeline));
    const std::unique_ptr<GstMessage, GstMessageUnref> message(
        gst_bus_timed_pop_filtered(bus.get(), static_cast<GstClockTime>(limit.count()) * GST_MSECOND,
                                   static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR)));
    return message && GST_MESSAGE_TYPE(message.get()) == GST_MESSAGE_EOS;
}

}  // namespace castorn
