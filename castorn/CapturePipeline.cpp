#include "castorn/CapturePipeline.h"

#include "castorn/AudioClockProbe.h"
#include "castorn/FallbackSource.h"
#include "castorn/GstRef.h"
#include "castorn/PinnedRecording.h"
#include "castorn/PortalScreenSource.h"
#include "castorn/ScreenSource.h"
#include "castorn/ScreenToI420.h"
#include "interface/EngineInterface.h"

#include <gst/app/gstappsink.h>
#include <gst/video/video.h>

#include <algorithm>
#include <functional>
#include <initializer_list>
#include <stdexcept>

namespace castorn {

namespace {

struct BuildError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

constexpr guint64 kLevelInterval = 200 * GST_MSECOND;
constexpr gint kPreviewFps = 15;
constexpr gint64 kAudioChunkUs = 40000;
constexpr gint64 kAudioBufferUs = 1000000;
// A source that comes back (or starts under load) delivers late for its first seconds:
// without slack the mixer cuts what comes late, and the sound plays a few percent fast.
// The slack adds to the delay to viewers; 120 ms covers the lateness measured (up to about
// 120 ms) and keeps that delay under the ffmpeg command line's; 200 ms moved the sound
// outside the sync limits.
constexpr guint64 kMixerLatency = 120 * GST_MSECOND;
// voaacenc primes with this many samples: the sound it gives is that much later than its timestamps say.
constexpr guint64 kAacEncoderDelaySamples = 1600;

// Adds elements to a bin and links them; throws BuildError on the first failure.
class Assembler {
public:
    explicit Assembler(GstElement* bin) : m_bin(GST_BIN(bin)) {}

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

// A bin of what `fill` adds to it, whose "src" pad is that of the element `fill` returns.
using BinFiller = std::function<GstElement*(Assembler&)>;

GstElement* SourceBin(const BinFiller& fill, std::string& why)
{
    GstElement* bin = GST_ELEMENT(gst_object_ref_sink(gst_bin_new(nullptr)));
    try {
        Assembler assembler(bin);
        const PadRef pad(gst_element_get_static_pad(fill(assembler), "src"));
        gst_element_add_pad(bin, gst_ghost_pad_new("src", pad.get()));
        return bin;
    } catch (const BuildError& error) {
        why = error.what();
        gst_object_unref(bin);
        return nullptr;
    }
}

// For stand-ins, made of elements that are there if the pipeline could be built.
GstElement* StandInBin(const BinFiller& fill)
{
    std::string why;
    return SourceBin(fill, why);
}

bool HasProperty(GstElement* element, const char* name)
{
    return g_object_class_find_property(G_OBJECT_GET_CLASS(element), name) != nullptr;
}

GstCaps* RawVideoCaps(const char* format, int width, int height, int fps)
{
    GstCaps* caps =
        gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, format, "width", G_TYPE_INT, width, "height",
                            G_TYPE_INT, height, "pixel-aspect-ratio", GST_TYPE_FRACTION, 1, 1, nullptr);
    if (fps > 0) gst_caps_set_simple(caps, "framerate", GST_TYPE_FRACTION, fps, 1, nullptr);
    return caps;
}

GstCaps* RawAudioCaps(const AudioSettings& audio)
{
    const char* format = audio.bitsPerSample == 8    ? "U8"
                         : audio.bitsPerSample == 24 ? "S24LE"
                         : audio.bitsPerSample == 32 ? "S32LE"
                                                     : "S16LE";
    return gst_caps_new_simple("audio/x-raw", "format", G_TYPE_STRING, format, "layout", G_TYPE_STRING, "interleaved",
                               "rate", G_TYPE_INT, audio.sampleRate, "channels", G_TYPE_INT, audio.channels, nullptr);
}

GstElement* DeviceElement(Assembler& assembler, const SharedDevice& device)
{
    GstElement* element = gst_device_create_element(device.get(), nullptr);
    if (!element) throw BuildError("cannot open the device \"" + SourceName(device) + "\"");
    return assembler.Adopt(element);
}

// A desktop's screen through its portal. PipeWire sends a frame only when the screen
// changes: the source repeats the last one after a frame's time without one, and
// videorate puts what comes on the stream's exact rate.
GstElement* PortalScreenBin(const VideoSettings& video, std::string& why)
{
    return SourceBin(
        [&](Assembler& assembler) {
            GstElement* screen = assembler.Make(kPortalScreenSource);
            g_object_set(screen, "keepalive-time", static_cast<guint>(1000 / std::max(video.fps, 1)), nullptr);
            // From the first frame on: the stand-in has fed the stream until then.
            GstElement* rate = assembler.Make("videorate");
            g_object_set(rate, "skip-to-first", TRUE, nullptr);
            return assembler.Chain({screen, assembler.Make(kScreenToI420),
                                    assembler.Filter(RawVideoCaps("I420", video.width, video.height, 0)), rate,
                                    assembler.Filter(gst_caps_new_simple("video/x-raw", "framerate", GST_TYPE_FRACTION,
                                                                         video.fps, 1, nullptr))});
        },
        why);
}

// The selected picture source, up to where its frames come at the stream's rate.
GstElement* VideoSource(const CaptureSource& source, const VideoSettings& video, std::string& why)
{
    // A camera keeps its own pace: videorate makes it the stream's. (It holds each frame
    // until the next one comes, which the other sources, already at that rate, need not wait for.)
    if (const auto* device = std::get_if<SharedDevice>(&source))
        return SourceBin(
            [&](Assembler& assembler) {
                return assembler.Chain({DeviceElement(assembler, *device), assembler.Make("videorate")});
            },
            why);
    if (std::holds_alternative<PortalScreen>(source)) return PortalScreenBin(video, why);
    const auto& screen = std::get<X11Screen>(source);
    return SourceBin(
        [&](Assembler& assembler) {
            GstElement* grab = assembler.Make(kScreenSource);
            g_object_set(grab, "display-name", screen.display.c_str(), nullptr);
            // Grab only as many frames as the stream carries, and make them the stream's I420
            // at once: the converter in the pipeline then passes them through.
            return assembler.Chain({grab,
                                    assembler.Filter(gst_caps_new_simple("video/x-raw", "framerate", GST_TYPE_FRACTION,
                                                                         video.fps, 1, nullptr)),
                                    assembler.Make(kScreenToI420),
                                    assembler.Filter(RawVideoCaps("I420", video.width, video.height, 0))});
        },
        why);
}

// Black at the stream's size and rate, live, from the running time `from` on.
GstElement* Black(const VideoSettings& video, GstClockTime from)
{
    return StandInBin([&](Assembler& assembler) {
        GstElement* black = assembler.Make("videotestsrc");
        gst_util_set_object_arg(G_OBJECT(black), "pattern", "black");
        g_object_set(black, "is-live", TRUE, "timestamp-offset", static_cast<gint64>(from), nullptr);
        return assembler.Chain({black, assembler.Filter(RawVideoCaps("I420", video.width, video.height, video.fps))});
    });
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

void SetUpAudioSource(GstElement* source)
{
    // The system clock times the whole pipeline, picture and sound: a sound server's clock,
    // counted in the samples it delivers, runs slow when it is starved, and the whole stream
    // would shrink with it. FollowPipelineClock keeps the source's first timestamp (which
    // knows the capture latency) and puts the rest where the samples belong on that clock.
    // (Re-timestamping in the source instead mangled the first seconds of its sound.)
    if (HasProperty(source, "provide-clock")) g_object_set(source, "provide-clock", FALSE, nullptr);
    // Sound in 40 ms pieces: a quarter of the wake-ups of the default, at no cost in delay
    // that matters to a stream.
    if (HasProperty(source, "latency-time")) g_object_set(source, "latency-time", kAudioChunkUs, nullptr);
    // The stream's latency (half a second of look-ahead with B-frames) must fit the source's
    // buffer, or its sound falls behind the picture and the end of it is cut off.
    if (HasProperty(source, "buffer-time")) g_object_set(source, "buffer-time", kAudioBufferUs, nullptr);
    // A sound server's recording stays on the source chosen, or fails.
    if (HasProperty(source, "current-device")) PinRecording(source);
}

// A sound server source (or another audio device) in the stream's format, on the pipeline clock.
GstElement* AudioSourceBin(const AudioSettings& audio, const BinFiller& open, std::string& why)
{
    return SourceBin(
        [&](Assembler& assembler) {
            GstElement* source = open(assembler);
            SetUpAudioSource(source);
            GstElement* clockInput = assembler.Filter(gst_caps_new_simple(
                "audio/x-raw", "format", G_TYPE_STRING, "F32LE", "layout", G_TYPE_STRING, "interleaved", "rate",
                G_TYPE_INT, audio.sampleRate, "channels", G_TYPE_INT, audio.channels, nullptr));
            assembler.Chain({source, assembler.Make("audioconvert"), assembler.Make("audioresample"), clockInput});
            const PadRef pad(gst_element_get_static_pad(clockInput, "src"));
            FollowPipelineClock(pad.get(), audio.sampleRate, audio.channels);
            return assembler.Chain({clockInput, assembler.Make("audioconvert"), assembler.Filter(RawAudioCaps(audio))});
        },
        why);
}

GstElement* Microphone(const SharedDevice& device, const AudioSettings& audio, std::string& why)
{
    return AudioSourceBin(
        audio, [&](Assembler& assembler) { return DeviceElement(assembler, device); }, why);
}

GstElement* SoundServerSource(const std::string& name, const AudioSettings& audio, std::string& why)
{
    return AudioSourceBin(
        audio,
        [&](Assembler& assembler) {
            GstElement* source = assembler.Make("pulsesrc");
            g_object_set(source, "device", name.c_str(), nullptr);
            return source;
        },
        why);
}

// Silence in the stream's format, live, from the running time `from` on.
GstElement* Silence(const AudioSettings& audio, GstClockTime from)
{
    return StandInBin([&](Assembler& assembler) {
        GstElement* source = assembler.Make("audiotestsrc");
        gst_util_set_object_arg(G_OBJECT(source), "wave", "silence");
        g_object_set(source, "is-live", TRUE, "timestamp-offset", static_cast<gint64>(from), "samplesperbuffer",
                     static_cast<gint>(audio.sampleRate * kAudioChunkUs / 1000000), nullptr);
        return assembler.Chain({source, assembler.Filter(RawAudioCaps(audio))});
    });
}

// Where a source joins, in the stream's raw format: returns the first element and the last.
std::pair<GstElement*, GstElement*> AudioInput(Assembler& assembler, const AudioSettings& audio)
{
    GstElement* format = assembler.Filter(RawAudioCaps(audio));
    // Across a change of source the sound goes on without a gap or an overlap.
    GstElement* rate = assembler.Make("audiorate");
    g_object_set(rate, "skip-to-first", TRUE, nullptr);
    return {format, assembler.Chain({format, rate})};
}

PadRef SinkPad(GstElement* element)
{
    return PadRef(gst_element_get_static_pad(element, "sink"));
}

}  // namespace

CapturePipeline::CapturePipeline(TagHandler onFlvTag, FrameHandler onPreviewFrame, SourceHandler onSource)
    : m_pipeline(GST_ELEMENT(gst_object_ref_sink(gst_pipeline_new("castorn-capture")))),
      m_onFlvTag(std::move(onFlvTag)),
      m_onPreviewFrame(std::move(onPreviewFrame)),
      m_onSource(std::move(onSource))
{}

CapturePipeline::~CapturePipeline()
{
    for (const auto& source : m_sources) source->Withdraw();
    gst_element_set_state(m_pipeline, GST_STATE_NULL);
    m_sources.clear();
    gst_object_unref(m_pipeline);
}

std::unique_ptr<CapturePipeline> CapturePipeline::Create(const CaptureSetup& spec, TagHandler onFlvTag,
                                                         FrameHandler onPreviewFrame, SourceHandler onSource,
                                                         std::string& why)
{
    std::unique_ptr<CapturePipeline> capture(
        new CapturePipeline(std::move(onFlvTag), std::move(onPreviewFrame), std::move(onSource)));
    if (!capture->Build(spec, why)) capture.reset();
    return capture;
}

bool CapturePipeline::Build(const CaptureSetup& spec, std::string& why)
{
    try {
        Assembler assembler(m_pipeline);
        const VideoSettings& video = spec.video;
        const AudioSettings& audio = spec.audio;
        GstElement* mux = assembler.Make("flvmux");
        g_object_set(mux, "streamable", TRUE, nullptr);
        assembler.Chain({mux, AppSink(assembler, &CapturePipeline::OnFlvSample, this, 0)});

        GstElement* videoInput = assembler.Make("videoconvertscale");
        GstElement* tee =
            assembler.Chain({videoInput, assembler.Filter(RawVideoCaps("I420", video.width, video.height, video.fps)),
                             assembler.Make("tee")});
        m_videoEncoder = VideoEncoder(assembler, video, spec.encoder);
        GstElement* h264 = assembler.Chain(
            {tee, assembler.Make("queue"), m_videoEncoder,
             assembler.Filter(gst_caps_from_string("video/x-h264,profile=main,stream-format=avc,alignment=au"))});
        assembler.Link(h264, mux, "video");
        AddEncodedProbe(h264, Track::Video);

        // The microphone at its capture volume, mixed with the background sound when
        // there is one; the level meter on what is sent.
        const auto [microphoneInput, microphoneRate] = AudioInput(assembler, audio);
        GstElement* volume = assembler.Make("volume");
        g_object_set(volume, "volume", audio.volume / 100.0, "mute", audio.mute, nullptr);
        GstElement* sound = assembler.Chain({microphoneRate, volume});
        GstElement* backgroundInput = nullptr;
        if (!spec.backgroundSource.empty()) {
            GstElement* mixer = assembler.Make("audiomixer");
            g_object_set(mixer, "output-buffer-duration", static_cast<guint64>(kAudioChunkUs * GST_USECOND), "latency",
                         kMixerLatency, nullptr);
            assembler.Link(sound, mixer, nullptr);
            const auto [input, rate] = AudioInput(assembler, audio);
            assembler.Link(rate, mixer, nullptr);
            backgroundInput = input;
            sound = assembler.Chain({mixer, assembler.Filter(RawAudioCaps(audio))});
        }
        GstElement* level = assembler.Make("level");
        g_object_set(level, "interval", kLevelInterval, "post-messages", TRUE, nullptr);
        sound = assembler.Chain({sound, level});
        // VisualOn's encoder: a third of libav's CPU and delay for the same stream.
        GstElement* aac = assembler.Make("voaacenc");
        g_object_set(aac, "bitrate", audio.bitrate, nullptr);
        assembler.Link(assembler.Chain({sound, assembler.Make("audioconvert"), aac}), mux, "audio");
        AddEncodedProbe(aac, Track::Audio);
        // The encoder's delay is taken off by holding the picture back as long: the sound's
        // running time cannot go below the picture's without the muxer restamping it. Not on
        // the encoder's own pad: the offset would turn "a key frame now" into one never.
        const PadRef encodedPicture(gst_element_get_static_pad(h264, "src"));
        gst_pad_set_offset(encodedPicture.get(), static_cast<gint64>(gst_util_uint64_scale_int(
                                                     kAacEncoderDelaySamples, GST_SECOND, audio.sampleRate)));

        if (spec.previewWidth > 0) {
            GstElement* queue = assembler.Make("queue");
            gst_util_set_object_arg(G_OBJECT(queue), "leaky", "downstream");
            g_object_set(queue, "max-size-buffers", 1u, "max-size-bytes", 0u, "max-size-time", guint64(0), nullptr);
            // The preview is a glance at what is sent: at most kPreviewFps, the nearest pixel and
            // no chroma filtering cost an eighth of the instructions of a full-rate, filtered one.
            GstElement* rate = assembler.Make("videorate");
            g_object_set(rate, "drop-only", TRUE, "max-rate", kPreviewFps, nullptr);
            GstElement* convert = assembler.Make("videoconvertscale");
            gst_util_set_object_arg(G_OBJECT(convert), "method", "nearest-neighbour");
            gst_util_set_object_arg(G_OBJECT(convert), "chroma-mode", "none");
            assembler.Chain({tee, queue, rate, convert,
                             assembler.Filter(RawVideoCaps("BGRx", spec.previewWidth, spec.previewHeight, 0)),
                             AppSink(assembler, &CapturePipeline::OnPreviewSample, this, 1)});
        }

        const CaptureSource videoSource = spec.videoSource;
        AddSource(
            SinkPad(videoInput).get(), castorn_notification::kSourceVideo, SourceName(videoSource),
            std::holds_alternative<std::monostate>(videoSource)
                ? FallbackSource::SourceMaker()
                : [videoSource, video](std::string& why) { return VideoSource(videoSource, video, why); },
            [video](GstClockTime from) { return Black(video, from); });
        const auto* microphone = std::get_if<SharedDevice>(&spec.audioSource);
        AddSource(SinkPad(microphoneInput).get(), castorn_notification::kSourceAudio, SourceName(spec.audioSource),
                  microphone
                      ? [device = *microphone, audio](std::string& why) { return Microphone(device, audio, why); }
                      : FallbackSource::SourceMaker(),
                  [audio](GstClockTime from) { return Silence(audio, from); });
        if (backgroundInput)
            AddSource(
                SinkPad(backgroundInput).get(), castorn_notification::kSourceBackground, spec.backgroundSource,
                [name = spec.backgroundSource, audio](std::string& why) { return SoundServerSource(name, audio, why); },
                [audio](GstClockTime from) { return Silence(audio, from); });
        return true;
    } catch (const BuildError& error) {
        why = error.what();
        return false;
    }
}

void CapturePipeline::AddSource(GstPad* joint, const char* kind, const std::string& name,
                                FallbackSource::SourceMaker source, FallbackSource::StandInMaker standIn)
{
    auto fallback = std::make_unique<FallbackSource>(
        GST_BIN(m_pipeline), joint, std::move(source), std::move(standIn),
        [this, kind, name](const std::string& why, bool refused) { m_onSource(kind, name, why, refused); });
    fallback->Build();
    m_sources.push_back(std::move(fallback));
}

bool CapturePipeline::Play(std::string& why)
{
    // Each try either plays or leaves one more source that cannot be opened to its stand-in.
    for (std::size_t tries = 0; tries <= m_sources.size(); ++tries) {
        if (gst_element_set_state(m_pipeline, GST_STATE_PLAYING) != GST_STATE_CHANGE_FAILURE) return true;
        const BusRef bus(gst_element_get_bus(m_pipeline));
        const std::unique_ptr<GstMessage, GstMessageUnref> message(gst_bus_pop_filtered(bus.get(), GST_MESSAGE_ERROR));
        gst_element_set_state(m_pipeline, GST_STATE_NULL);
        why = "the capture did not start";
        if (!message) return false;
        GError* error = nullptr;
        gst_message_parse_error(message.get(), &error, nullptr);
        why += std::string(": ") + error->message;
        g_error_free(error);
        if (!TakeSourceMessage(message.get())) return false;
    }
    return false;
}

bool CapturePipeline::TakeSourceMessage(GstMessage* message)
{
    for (const auto& source : m_sources)
        if (source->TakeMessage(message)) {
            ResumeStart();
            return true;
        }
    // What a source that was taken out said before it went.
    GstObject* from = GST_MESSAGE_SRC(message);
    return GST_MESSAGE_TYPE(message) == GST_MESSAGE_ERROR && from && from != GST_OBJECT(m_pipeline) &&
           !gst_object_has_as_ancestor(from, GST_OBJECT(m_pipeline));
}

void CapturePipeline::TendSources()
{
    for (const auto& source : m_sources) source->Tend();
}

bool CapturePipeline::Playing() const
{
    // The state, not the result: a source's error marks that as failed, even once the
    // pipeline plays.
    GstState state = GST_STATE_VOID_PENDING;
    GstState pending = GST_STATE_VOID_PENDING;
    gst_element_get_state(m_pipeline, &state, &pending, 0);
    return state == GST_STATE_PLAYING && pending == GST_STATE_VOID_PENDING;
}

void CapturePipeline::ResumeStart()
{
    // A source's error while the pipeline starts ends the start, even when a stand-in
    // has taken the source's place: it needs to be started again.
    if (GST_STATE_TARGET(m_pipeline) == GST_STATE_PLAYING && !Playing())
        gst_element_set_state(m_pipeline, GST_STATE_PLAYING);
}

bool CapturePipeline::EndStream()
{
    // Until it plays, the sources' threads may wait on sinks that wait for the pipeline
    // to play: the end of stream would wait for them, holding up the state change they wait for.
    if (!Playing()) return false;
    for (const auto& source : m_sources) source->SetEnding();
    gst_element_send_event(m_pipeline, gst_event_new_eos());
    return true;
}

// A probe rather than a tee: nothing more for the stream to wait on, and nothing a
// copy's slow disk could hold up.
void CapturePipeline::AddEncodedProbe(GstElement* encoded, Track track)
{
    const PadRef pad(gst_element_get_static_pad(encoded, "src"));
    const auto probe = [](GstPad* pad, GstPadProbeInfo* info, gpointer data) {
        auto* self = static_cast<CapturePipeline*>(data);
        const auto track = static_cast<Track>(GPOINTER_TO_INT(g_object_get_data(G_OBJECT(pad), "castorn-track")));
        std::lock_guard lock(self->m_tapMutex);
        if (self->m_onEncoded) self->m_onEncoded(track, pad, GST_PAD_PROBE_INFO_BUFFER(info));
        return GST_PAD_PROBE_OK;
    };
    g_object_set_data(G_OBJECT(pad.get()), "castorn-track", GINT_TO_POINTER(static_cast<int>(track)));
    gst_pad_add_probe(pad.get(), GST_PAD_PROBE_TYPE_BUFFER, probe, this, nullptr);
}

void CapturePipeline::TapEncoded(EncodedHandler onEncoded)
{
    std::lock_guard lock(m_tapMutex);
    m_onEncoded = std::move(onEncoded);
}

void CapturePipeline::RequestKeyFrame()
{
    gst_element_send_event(m_videoEncoder, gst_video_event_new_upstream_force_key_unit(GST_CLOCK_TIME_NONE, TRUE, 0));
}

void CapturePipeline::SetVideoBitrate(int kbps)
{
    g_object_set(m_videoEncoder, "bitrate", static_cast<guint>(kbps), nullptr);
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
