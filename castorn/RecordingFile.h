// One recording: what the encoders gave the stream, muxed as it comes into an MP4
// written in fragments of half a second, so that a file cut off by a crash or a full disk
// reads up to its last whole fragment. Its own pipeline: the disk never holds up
// the stream, and a failing disk fails this file alone.
#pragma once

#include "castorn/CapturePipeline.h"

#include <gst/gst.h>

#include <chrono>
#include <memory>
#include <string>

namespace castorn {

enum class RecordingTrouble { None, DiskFull, CannotWrite };

// What a failing element of the recording said, as a trouble.
RecordingTrouble TroubleOf(GstMessage* error);

class RecordingFile {
public:
    // A new file in `folder`, named from the local time, never one that is there.
    // Null with the trouble and the reason when the file cannot be made.
    static std::unique_ptr<RecordingFile> Create(const std::string& folder, RecordingTrouble& trouble,
                                                 std::string& why);
    ~RecordingFile();  // to NULL
    RecordingFile(const RecordingFile&) = delete;
    RecordingFile& operator=(const RecordingFile&) = delete;

    bool Start(std::string& why);
    // On the encoders' streaming threads, one call at a time. The file begins with a
    // key frame; sound from before it is left out.
    void Push(CapturePipeline::Track track, GstPad* pad, GstBuffer* buffer);
    // The end written, within `limit`: false when it was not.
    bool Finish(std::chrono::milliseconds limit);
    // After a failure: stopped, and cut after its last whole box, since a reader takes a
    // box cut off by a full disk for a broken file.
    void Abandon();

    GstElement* Pipeline() const { return m_pipeline; }

    // Half a second a fragment: a crash loses the fragment under way and no more, since
    // each goes to the disk whole and unbuffered, and the index stays small.
    static constexpr guint kFragmentMs = 500;
    const std::string& Path() const { return m_path; }

private:
    explicit RecordingFile(std::string path);
    bool Build(std::string& why);

    std::string m_path;
    GstElement* m_pipeline;
    GstElement* m_sources[2] = {nullptr, nullptr};  // by Track
    bool m_capsSet[2] = {false, false};
    GstClockTime m_start = GST_CLOCK_TIME_NONE;  // the first key frame's running time
};

}  // namespace castorn
