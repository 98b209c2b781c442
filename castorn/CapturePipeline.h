// The capture side of publishing: the selected devices (or black video and
// silence), scaled and rate-converted, encoded to H.264 and AAC and muxed to
// FLV tags that go to whoever sends them; a branch of the scaled picture feeds
// the preview. It runs for the whole time on air, across reconnections.
#pragma once

#include "castorn/DeviceCatalog.h"
#include "castorn/StreamSettings.h"

#include <gst/app/gstappsink.h>
#include <gst/gst.h>

#include <functional>
#include <memory>
#include <string>

namespace castorn {

struct CaptureSpec {
    VideoSettings video;
    AudioSettings audio;
    EncoderSettings encoder;
    CaptureSource videoSource;
    CaptureSource audioSource;
    std::string backgroundSource;  // a sound server source to mix in, or empty
    int previewWidth = 0;          // 0: no preview branch
    int previewHeight = 0;
};

class CapturePipeline {
public:
    // Both run on streaming threads; the sample is only lent for the call. A tag
    // handler returns true to have the encoder make a key frame soon.
    using TagHandler = std::function<bool(GstSample*)>;
    using FrameHandler = std::function<void(GstSample*)>;

    // null with the reason in `why` when an element or device cannot be made.
    static std::unique_ptr<CapturePipeline> Create(const CaptureSpec& spec, TagHandler onFlvTag,
                                                   FrameHandler onPreviewFrame, std::string& why);
    ~CapturePipeline();  // to NULL and freed
    CapturePipeline(const CapturePipeline&) = delete;
    CapturePipeline& operator=(const CapturePipeline&) = delete;

    bool Play(std::string& why);
    void EndStream();  // EOS from every source; the bus says when it is through
    GstElement* Pipeline() const { return m_pipeline; }

private:
    CapturePipeline(TagHandler onFlvTag, FrameHandler onPreviewFrame);
    void RequestKeyFrame();
    bool Build(const CaptureSpec& spec, std::string& why);

    static GstFlowReturn OnFlvSample(GstAppSink* sink, gpointer self);
    static GstFlowReturn OnPreviewSample(GstAppSink* sink, gpointer self);

    GstElement* m_pipeline;
    GstElement* m_videoEncoder = nullptr;
    TagHandler m_onFlvTag;
    FrameHandler m_onPreviewFrame;
};

}  // namespace castorn
