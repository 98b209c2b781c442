// The capture side of publishing: the selected devices (or black video and
// silence), scaled and rate-converted, encoded to H.264 and AAC and muxed to
// FLV tags that go to whoever sends them; a branch of the scaled picture feeds
// the preview. It runs for the whole time on air, across reconnections, and
// across the loss of any of its sources, which black or silence stands in for
// until the source is back.
#pragma once

#include "castorn/DeviceCatalog.h"
#include "castorn/StreamSettings.h"

#include <gst/app/gstappsink.h>
#include <gst/gst.h>

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace castorn {

class FallbackSource;

// The sources and settings of one capture.
struct CaptureSetup {
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
    // A source (a castorn_notification::kSource value) lost, with why (`refused`: by its
    // user, not tried again), or back (why empty); on the thread that handles the bus.
    using SourceHandler =
        std::function<void(const char* source, const std::string& name, const std::string& why, bool refused)>;
    // What each encoder gives, as it goes to the muxer: the pad lends it only for the call,
    // on the pad's streaming thread.
    enum class Track { Video, Audio };
    using EncodedHandler = std::function<void(Track track, GstPad* pad, GstBuffer* buffer)>;

    // null with the reason in `why` when an element cannot be made.
    static std::unique_ptr<CapturePipeline> Create(const CaptureSetup& spec, TagHandler onFlvTag,
                                                   FrameHandler onPreviewFrame, SourceHandler onSource,
                                                   std::string& why);
    ~CapturePipeline();  // to NULL and freed
    CapturePipeline(const CapturePipeline&) = delete;
    CapturePipeline& operator=(const CapturePipeline&) = delete;

    // A source that cannot be opened is left to its stand-in, and told.
    bool Play(std::string& why);
    // EOS from every source, when the pipeline plays; the bus says when it is through.
    // false when it does not play (yet): there is no stream to finish.
    bool EndStream();
    GstElement* Pipeline() const { return m_pipeline; }
    // Until `onEncoded` is set again (empty: none); no call runs once this returns.
    void TapEncoded(EncodedHandler onEncoded);
    void RequestKeyFrame();  // soon, from the video encoder

    // The bus messages of failing sources, and of sources already taken out: true
    // when it took the message. The others are for the caller.
    bool TakeSourceMessage(GstMessage* message);
    // Every so often, on the bus's thread: lost sources are tried again.
    void TendSources();
    // The encoder takes the new video rate as it runs.
    void SetVideoBitrate(int kbps);

private:
    CapturePipeline(TagHandler onFlvTag, FrameHandler onPreviewFrame, SourceHandler onSource);
    bool Playing() const;  // there, not on its way
    void ResumeStart();
    bool Build(const CaptureSetup& spec, std::string& why);
    void AddSource(GstPad* joint, const char* kind, const std::string& name,
                   std::function<GstElement*(std::string&)> source, std::function<GstElement*(GstClockTime)> standIn);

    static GstFlowReturn OnFlvSample(GstAppSink* sink, gpointer self);
    static GstFlowReturn OnPreviewSample(GstAppSink* sink, gpointer self);
    void AddEncodedProbe(GstElement* encoded, Track track);

    GstElement* m_pipeline;
    GstElement* m_videoEncoder = nullptr;
    TagHandler m_onFlvTag;
    FrameHandler m_onPreviewFrame;
    SourceHandler m_onSource;
    std::mutex m_tapMutex;
    EncodedHandler m_onEncoded;
    std::vector<std::unique_ptr<FallbackSource>> m_sources;
};

}  // namespace castorn
