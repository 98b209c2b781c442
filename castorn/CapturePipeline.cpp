#include "castorn/CapturePipeline.h"

#include "castorn/GstRef.h"

#include <gst/app/gstappsink.h>
#include <gst/video/video.h>

#include <initializer_list>
#include <stdexcept>

namespace castorn {

namespace {

struct BuildError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

constexpr guint64 kLevelInterval = 200 * GST_MSECOND;
constexpr gint64 kAudioChunkUs = 40000;
constexpr gint64 kAudioBufferUs = 1000000;

// Adds elements to the pipeline and links them; throws BuildError on the first failure.
class Assembler {
public:
    explicit Assembler(GstElement* pipeline) : m_bin(GST_BIN(pipeline)) {}

    GstElement* Make(const char* factory)
    {
        GstElement* element = gst_element_factory_make(factory, nullptr);
        if (!element) throw BuildError(std::string("GStreamer element \"") + factory + "\" is not installed");
        return Adopt(element);
    }

    GstElement* Adopt(GstElement* element)
    {
        gst_bin_add(m_bin, element);
        return element;
    }

    GstElement* Filter(GstCaps* caps)
    {
        GstElement* filter = Make("capsfilter");
        g_object_set(filter, "caps", caps, nullptr);
        gst_caps_unref(caps);
        return filter;
    }

    // Links the elements in order; returns the last.
    GstElement* Chain(std::initializer_list<GstElement*> elements)
    {
        GstElement* previous = nullptr;
        for (GstElement* element : elements) {
            if (previous) Link(previous, element, nullptr);
            previous = element;
        }
        return previous;
    }

    void Link(GstElement* from, GstElement* to, const char* toPad)
    {
        if (gst_element_link_pads(from, nullptr, to, toPad)) return;
        throw BuildError(std::string("cannot link ") + GST_ELEMENT_NAME(from) + " to " + GST_ELEMENT_NAME(to));
    }

private:
    GstBin* m_bin;
};

bool HasProperty(GstElement* element, const char* name)
{
    return g_object_class_find_property(G_OBJECT_GET_CLASS(element), name) != nullptr;
}

GstCaps* RawVideoCaps(const char* format, int width, int height, int fps)
{
    GstCaps* caps = gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, format, "width", G_TYPE_INT,
                                        width, "height", G_TYPE_INT, height, "pixel-aspect-ratio",
                                        GST_TYPE_FRACTION, 1, 1, nullptr);
    if (fps > 0) gst_caps_set_simple(caps, "framerate", GST_TYPE_FRACTION, fps, 1, nullptr);
    return caps;
}

GstCaps* RawAudioCaps(const AudioSettings& audio)
{
    const char* format = audio.bitsPerSample == 8    ? "U8"
                         : audio.bitsPerSample == 24 ? "S24LE"
                         : audio.bitsPerSample == 32 ? "S32LE"
                                                     : "S16LE";
    return gst_caps_new_simple("audio/x-raw", "format", G_TYPE_STRING, format, "layout", G_TYPE_STRING,
                               "interleaved", "rate", G_TYPE_INT, audio.sampleRate, "channels", G_TYPE_INT,
                               audio.channels, nullptr);
}

GstElement* DeviceElement(Assembler& assembler, const SharedDevice& device)
{
    GstElement* element = gst_device_create_element(device.get(), nullptr);
    if (!element) {
        const GText name(gst_device_get_display_name(device.get()));
        throw BuildError(std::string("cannot open the device \"") + (name ? name.get() : "") + "\"");
    }
    return assembler.Adopt(element);
}

// The selected picture source, up to where its frames come at the stream's rate.
GstElement* VideoSource(Assembler& assembler, const CaptureSpec& spec)
{
    const VideoSettings& video = spec.video;
    // A camera keeps its own pace: videorate makes it the stream's. (It holds each frame
    // until the next one comes, which the other sources, already at that rate, need not wait for.)
    if (const auto* device = std::get_if<SharedDevice>(&spec.videoSource))
        return assembler.Chain({DeviceElement(assembler, *device), assembler.Make("videorate")});
    if (const auto* screen = std::get_if<X11Screen>(&spec.videoSource)) {
        GstElement* grab = assembler.Make("ximagesrc");
        g_object_set(grab, "display-name", screen->display.c_str(), "use-damage", FALSE, "show-pointer", TRUE,
                     nullptr);
        // Grab only as many frames as the stream carries.
        return assembler.Chain({grab, assembler.Filter(gst_caps_new_simple(
                                          "video/x-raw", "framerate", GST_TYPE_FRACTION, video.fps, 1, nullptr))});
    }
    GstElement* black = assembler.Make("videotestsrc");
    gst_util_set_object_arg(G_OBJECT(black), "pattern", "black");
    g_object_set(black, "is-live", TRUE, nullptr);
    return assembler.Chain({black, assembler.Filter(RawVideoCaps("I420", video.width, video.height, video.fps))});
}

GstElement* VideoEncoder(Assembler& assembler, const VideoSettings& video, const EncoderSettings& encoder)
{
    GstElement* x264 = assembler.Make("x264enc");
    gst_util_set_object_arg(G_OBJECT(x264), "speed-preset", "veryfast");
    // zerolatency would turn B-frames off; without B-frames it saves the lookahead delay.
    if (encoder.bFrames == 0) gst_util_set_object_arg(G_OBJECT(x264), "tune", "zerolatency");
    g_object_set(x264, "bitrate", static_cast<guint>(video.bitrate / 1000), "key-int-max",
                 static_cast<guint>(video.keyInterval), "bframes", static_cast<guint>(encoder.bFrames), nullptr);
    if (encoder.vbrQuality > 0) {
        gst_util_set_object_arg(G_OBJECT(x264), "pass", "qual");
        g_object_set(x264, "quantizer", static_cast<guint>(RateFactorForQuality(encoder.vbrQuality)), nullptr);
    }
    return x264;
}

using SampleCallback = GstFlowReturn (*)(GstAppSink*, gpointer);

// maxBuffers 0 keeps every sample, otherwise the newest ones.
GstElement* AppSink(Assembler& assembler, SampleCallback onSample, gpointer self, guint maxBuffers)
{
    GstElement* sink = assembler.Make("appsink");
    g_object_set(sink, "sync", FALSE, "max-buffers", maxBuffers, "drop", maxBuffers > 0, nullptr);
    GstAppSinkCallbacks callbacks{};
    callbacks.new_sample = onSample;
    gst_app_sink_set_callbacks(GST_APP_SINK(sink), &callbacks, self, nullptr);
    return sink;
}

// source ! convert ! resample ! the stream's raw format
GstElement* AudioInput(Assembler& assembler, GstElement* source, const AudioSettings& audio)
{
    // The system clock times everything: a sound server's clock, counted in the samples it
    // delivers, runs slow when it is starved, and the whole stream would shrink with it.
    if (HasProperty(source, "provide-clock")) g_object_set(source, "provide-clock", FALSE, nullptr);
    // Sound in 40 ms pieces: a quarter of the wake-ups of the default, at no cost in delay
    // that matters to a stream.
    if (HasProperty(source, "latency-time")) g_object_set(source, "latency-time", kAudioChunkUs, nullptr);
    // The stream's latency (half a second of look-ahead with B-frames) must fit the source's
    // buffer, or its sound falls behind the picture and the end of it is cut off.
    if (HasProperty(source, "buffer-time")) g_object_set(source, "buffer-time", kAudioBufferUs, nullptr);
    return assembler.Chain({source, assembler.Make("audioconvert"), assembler.Make("audioresample"),
                            assembler.Filter(RawAudioCaps(audio))});
}

// The microphone (or silence) at its capture volume.
GstElement* Microphone(Assembler& assembler, const CaptureSpec& spec)
{
    GstElement* source = nullptr;
    if (const auto* device = std::get_if<SharedDevice>(&spec.audioSource)) {
        source = DeviceElement(assembler, *device);
    } else {
        source = assembler.Make("audiotestsrc");
        gst_util_set_object_arg(G_OBJECT(source), "wave", "silence");
        g_object_set(source, "is-live", TRUE, "samplesperbuffer",
                     static_cast<gint>(spec.audio.sampleRate * kAudioChunkUs / 1000000), nullptr);
    }
    GstElement* volume = assembler.Make("volume");
    g_object_set(volume, "volume", spec.audio.volume / 100.0, "mute", spec.audio.mute, nullptr);
    return assembler.Chain({AudioInput(assembler, source, spec.audio), volume});
}

// The microphone, mixed with the background source when there is one.
GstElement* MicrophoneAndBackground(Assembler& assembler, const CaptureSpec& spec)
{
    GstElement* microphone = Microphone(assembler, spec);
    if (spec.backgroundSource.empty()) return microphone;
    GstElement* background = assembler.Make("pulsesrc");
    g_object_set(background, "device", spec.backgroundSource.c_str(), nullptr);
    GstElement* mixer = assembler.Make("audiomixer");
    g_object_set(mixer, "output-buffer-duration", static_cast<guint64>(kAudioChunkUs * GST_USECOND), nullptr);
    assembler.Link(microphone, mixer, nullptr);
    assembler.Link(AudioInput(assembler, background, spec.audio), mixer, nullptr);
    return assembler.Chain({mixer, assembler.Filter(RawAudioCaps(spec.audio))});
}

// The sound that is sent, with the level meter on it.
GstElement* AudioMix(Assembler& assembler, const CaptureSpec& spec)
{
    GstElement* level = assembler.Make("level");
    g_object_set(level, "interval", kLevelInterval, "post-messages", TRUE, nullptr);
    return assembler.Chain({MicrophoneAndBackground(assembler, spec), level});
}

}  // namespace

CapturePipeline::CapturePipeline(TagHandler onFlvTag, FrameHandler onPreviewFrame)
    : m_pipeline(GST_ELEMENT(gst_object_ref_sink(gst_pipeline_new("castorn-capture")))), m_onFlvTag(std::move(onFlvTag)),
      m_onPreviewFrame(std::move(onPreviewFrame))
{
}

CapturePipeline::~CapturePipeline()
{
    gst_element_set_state(m_pipeline, GST_STATE_NULL);
    gst_object_unref(m_pipeline);
}

std::unique_ptr<CapturePipeline> CapturePipeline::Create(const CaptureSpec& spec, TagHandler onFlvTag,
                                                         FrameHandler onPreviewFrame, std::string& why)
{
    std::unique_ptr<CapturePipeline> capture(new CapturePipeline(std::move(onFlvTag), std::move(onPreviewFrame)));
    if (!capture->Build(spec, why)) capture.reset();
    return capture;
}

bool CapturePipeline::Build(const CaptureSpec& spec, std::string& why)
{
    try {
        Assembler assembler(m_pipeline);
        const VideoSettings& video = spec.video;
        GstElement* mux = assembler.Make("flvmux");
        g_object_set(mux, "streamable", TRUE, nullptr);
        assembler.Chain({mux, AppSink(assembler, &CapturePipeline::OnFlvSample, this, 0)});

        GstElement* tee = assembler.Chain({VideoSource(assembler, spec), assembler.Make("videoconvertscale"),
                                           assembler.Filter(RawVideoCaps("I420", video.width, video.height, video.fps)),
                                           assembler.Make("tee")});
        m_videoEncoder = VideoEncoder(assembler, video, spec.encoder);
        GstElement* h264 = assembler.Chain(
            {tee, assembler.Make("queue"), m_videoEncoder,
             assembler.Filter(gst_caps_from_string("video/x-h264,profile=main,stream-format=avc,alignment=au"))});
        assembler.Link(h264, mux, "video");

        // VisualOn's encoder: a third of libav's CPU and delay for the same stream.
        GstElement* aac = assembler.Make("voaacenc");
        g_object_set(aac, "bitrate", spec.audio.bitrate, nullptr);
        assembler.Link(assembler.Chain({AudioMix(assembler, spec), assembler.Make("audioconvert"), aac}), mux, "audio");

        if (spec.previewWidth > 0) {
            GstElement* queue = assembler.Make("queue");
            gst_util_set_object_arg(G_OBJECT(queue), "leaky", "downstream");
            g_object_set(queue, "max-size-buffers", 1u, "max-size-bytes", 0u, "max-size-time", guint64(0), nullptr);
            assembler.Chain({tee, queue, assembler.Make("videoconvertscale"),
                             assembler.Filter(RawVideoCaps("BGRx", spec.previewWidth, spec.previewHeight, 0)),
                             AppSink(assembler, &CapturePipeline::OnPreviewSample, this, 1)});
        }
        return true;
    } catch (const BuildError& error) {
        why = error.what();
        return false;
    }
}

bool CapturePipeline::Play(std::string& why)
{
    if (gst_element_set_state(m_pipeline, GST_STATE_PLAYING) != GST_STATE_CHANGE_FAILURE) return true;
    const BusRef bus(gst_element_get_bus(m_pipeline));
    GstMessage* message = gst_bus_pop_filtered(bus.get(), GST_MESSAGE_ERROR);
    why = "the capture did not start";
    if (message) {
        GError* error = nullptr;
        gst_message_parse_error(message, &error, nullptr);
        why += std::string(": ") + error->message;
        g_error_free(error);
        gst_message_unref(message);
    }
    return false;
}

void CapturePipeline::EndStream()
{
    gst_element_send_event(m_pipeline, gst_event_new_eos());
}

void CapturePipeline::RequestKeyFrame()
{
    gst_element_send_event(m_videoEncoder,
                           gst_video_event_new_upstream_force_key_unit(GST_CLOCK_TIME_NONE, TRUE, 0));
}

GstFlowReturn CapturePipeline::OnFlvSample(GstAppSink* sink, gpointer self)
{
    GstSample* sample = gst_app_sink_pull_sample(sink);
    if (!sample) return GST_FLOW_EOS;
    auto* capture = static_cast<CapturePipeline*>(self);
    if (capture->m_onFlvTag(sample)) capture->RequestKeyFrame();
    gst_sample_unref(sample);
    return GST_FLOW_OK;
}

GstFlowReturn CapturePipeline::OnPreviewSample(GstAppSink* sink, gpointer self)
{
    GstSample* sample = gst_app_sink_pull_sample(sink);
    if (!sample) return GST_FLOW_EOS;
    static_cast<CapturePipeline*>(self)->m_onPreviewFrame(sample);
    gst_sample_unref(sample);
    return GST_FLOW_OK;
}

}  // namespace castorn
