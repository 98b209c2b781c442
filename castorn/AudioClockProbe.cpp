#include "castorn/AudioClockProbe.h"

#include "castorn/AudioTimeline.h"
#include "castorn/GstRef.h"

#include <gst/audio/audio.h>

#include <cmath>

namespace castorn {

namespace {

// The resampler's rates are integers: the ratio is kept to a millionth.
constexpr gint kRateUnit = 1000000;

class Follower {
public:
    Follower(int sampleRate, int channels)
        : m_timeline(sampleRate), m_sampleRate(sampleRate), m_bytesPerFrame(channels * sizeof(float))
    {
        GstStructure* options = gst_structure_new_empty("options");
        gst_audio_resampler_options_set_quality(GST_AUDIO_RESAMPLER_METHOD_KAISER, GST_AUDIO_RESAMPLER_QUALITY_DEFAULT,
                                                kRateUnit, kRateUnit, options);
        // Rates a millionth apart: the filter is interpolated rather than tabled for every phase.
        gst_structure_set(options, GST_AUDIO_RESAMPLER_OPT_FILTER_MODE, GST_TYPE_AUDIO_RESAMPLER_FILTER_MODE,
                          GST_AUDIO_RESAMPLER_FILTER_MODE_INTERPOLATED, nullptr);
        m_resampler = gst_audio_resampler_new(GST_AUDIO_RESAMPLER_METHOD_KAISER, GST_AUDIO_RESAMPLER_FLAG_NONE,
                                              GST_AUDIO_FORMAT_F32, channels, kRateUnit, kRateUnit, options);
        gst_structure_free(options);
    }
    ~Follower() { gst_audio_resampler_free(m_resampler); }
    Follower(const Follower&) = delete;
    Follower& operator=(const Follower&) = delete;

    // The buffer that replaces `in` (taking it), arrived at the running time `now`.
    GstBuffer* Follow(GstBuffer* in, GstClockTime now)
    {
        const gsize inFrames = gst_buffer_get_size(in) / m_bytesPerFrame;
        if (inFrames == 0) return in;
        const auto stamp = m_timeline.Next(inFrames, GST_BUFFER_PTS(in), now, GST_BUFFER_IS_DISCONT(in));
        const double stretch = stamp.duration / (1e9 * inFrames / m_sampleRate);
        const gint outRate = gint(std::lround(kRateUnit * stretch));
        if (outRate != m_outRate) {
            gst_audio_resampler_update(m_resampler, kRateUnit, outRate, nullptr);
            m_outRate = outRate;
        }
        const gsize outFrames = gst_audio_resampler_get_out_frames(m_resampler, inFrames);
        GstBuffer* out = gst_buffer_new_allocate(nullptr, outFrames * m_bytesPerFrame, nullptr);
        GstMapInfo inMap, outMap;
        gst_buffer_map(in, &inMap, GST_MAP_READ);
        gst_buffer_map(out, &outMap, GST_MAP_WRITE);
        gpointer inPlanes[] = {inMap.data};
        gpointer outPlanes[] = {outMap.data};
        gst_audio_resampler_resample(m_resampler, inPlanes, inFrames, outPlanes, outFrames);
        gst_buffer_unmap(out, &outMap);
        gst_buffer_unmap(in, &inMap);
        gst_buffer_copy_into(out, in, GST_BUFFER_COPY_FLAGS, 0, -1);
        gst_buffer_unref(in);
        GST_BUFFER_PTS(out) = std::max<std::int64_t>(0, stamp.pts);
        GST_BUFFER_DURATION(out) = gst_util_uint64_scale_int(outFrames, GST_SECOND, m_sampleRate);
        return out;
    }

private:
    AudioTimeline m_timeline;
    const int m_sampleRate;
    const gsize m_bytesPerFrame;
    GstAudioResampler* m_resampler;
    gint m_outRate = kRateUnit;
};

// Now, in running time on the clock of the element that owns `pad`; NONE before it has one.
GstClockTime RunningTimeNow(GstPad* pad)
{
    const ElementRef element(gst_pad_get_parent_element(pad));
    if (!element) return GST_CLOCK_TIME_NONE;
    GstClock* clock = gst_element_get_clock(element.get());
    if (!clock) return GST_CLOCK_TIME_NONE;
    const GstClockTime now = gst_clock_get_time(clock) - gst_element_get_base_time(element.get());
    gst_object_unref(clock);
    return now;
}

GstPadProbeReturn OnBuffer(GstPad* pad, GstPadProbeInfo* info, gpointer follower)
{
    GstBuffer* buffer = gst_pad_probe_info_get_buffer(info);
    const GstClockTime now = RunningTimeNow(pad);
    if (!GST_CLOCK_TIME_IS_VALID(now) || !GST_BUFFER_PTS_IS_VALID(buffer)) return GST_PAD_PROBE_OK;
    GST_PAD_PROBE_INFO_DATA(info) = static_cast<Follower*>(follower)->Follow(buffer, now);
    return GST_PAD_PROBE_OK;
}

}  // namespace

void FollowPipelineClock(GstPad* pad, int sampleRate, int channels)
{
    gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_BUFFER, &OnBuffer, new Follower(sampleRate, channels),
                      [](gpointer follower) { delete static_cast<Follower*>(follower); });
}

}  // namespace castorn
