// The engine's recording of a sound-server source of its own, on both servers a desktop
// may run, while the microphone and the speakers carry tones: a source that is not
// there, or goes away, fails the recording, and neither tone is heard in its place.
#include "castorn/GstRef.h"
#include "castorn/PinnedRecording.h"

#include "support/SoundServer.h"
#include "support/WaitUntil.h"

#include <gst/gst.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <memory>

using namespace test_support;
using namespace std::chrono_literals;
using Kind = SoundServer::Kind;

namespace {

constexpr float kSoundPeak = 0.05f;  // the tones play at half of full scale and more
constexpr int kRate = 48000;
// After a move, what one read of the recorder already took of the other source may pass.
constexpr double kPassedLimitSeconds = 0.1;

// A pinned recording of `device`, counting the samples that carry sound.
class Recording {
public:
    explicit Recording(const std::string& device)
    {
        gst_init(nullptr, nullptr);
        m_pipeline.reset(GST_ELEMENT(gst_object_ref_sink(gst_parse_launch(
            "pulsesrc name=recorder ! audioconvert ! audio/x-raw,format=F32LE,channels=1,rate=48000 ! fakesink name=out",
            nullptr))));
        const castorn::ElementRef recorder(gst_bin_get_by_name(GST_BIN(m_pipeline.get()), "recorder"));
        g_object_set(recorder.get(), "device", device.c_str(), nullptr);
        castorn::PinRecording(recorder.get());
        const castorn::ElementRef out(gst_bin_get_by_name(GST_BIN(m_pipeline.get()), "out"));
        const castorn::PadRef pad(gst_element_get_static_pad(out.get(), "sink"));
        gst_pad_add_probe(pad.get(), GST_PAD_PROBE_TYPE_BUFFER, &Recording::Count, this, nullptr);
        gst_element_set_state(m_pipeline.get(), GST_STATE_PLAYING);
    }
    ~Recording() { gst_element_set_state(m_pipeline.get(), GST_STATE_NULL); }

    bool FailsWithin(std::chrono::milliseconds limit)
    {
        const castorn::BusRef bus(gst_element_get_bus(m_pipeline.get()));
        GstMessage* error = gst_bus_timed_pop_filtered(bus.get(), limit.count() * GST_MSECOND, GST_MESSAGE_ERROR);
        if (error) gst_message_unref(error);
        return error != nullptr;
    }
    bool Delivers() const { return m_samples > 0; }
    double SoundSeconds() const { return static_cast<double>(m_soundSamples) / kRate; }

private:
    static GstPadProbeReturn Count(GstPad*, GstPadProbeInfo* info, gpointer self)
    {
        auto* recording = static_cast<Recording*>(self);
        GstMapInfo map;
        if (!gst_buffer_map(GST_PAD_PROBE_INFO_BUFFER(info), &map, GST_MAP_READ)) return GST_PAD_PROBE_OK;
        const auto* samples = reinterpret_cast<const float*>(map.data);
        const std::size_t count = map.size / sizeof(float);
        long sound = 0;
        for (std::size_t i = 0; i < count; ++i) sound += std::fabs(samples[i]) > kSoundPeak ? 1 : 0;
        gst_buffer_unmap(GST_PAD_PROBE_INFO_BUFFER(info), &map);
        recording->m_samples += static_cast<long>(count);
        recording->m_soundSamples += sound;
        return GST_PAD_PROBE_OK;
    }

    castorn::ElementRef m_pipeline;
    std::atomic<long> m_samples{0};
    std::atomic<long> m_soundSamples{0};
};

class PinnedRecording : public ::testing::TestWithParam<Kind> {
protected:
    void SetUp() override
    {
        if (!SoundServer::Installed(GetParam())) GTEST_SKIP() << "this sound server is not installed";
        m_sound = std::make_unique<SoundServer>(SoundServer::Microphone::SinkMonitor, GetParam());
        m_microphone = std::make_unique<TonePlayer>("Microphone", "mic_sink", 0.5);
        m_speakers = std::make_unique<TonePlayer>("Speakers");
        ASSERT_TRUE(WaitUntil([this] { return m_sound->List("sink-inputs").size() == 2; })) << "both tones play";
    }

    std::unique_ptr<SoundServer> m_sound;
    std::unique_ptr<TonePlayer> m_microphone;
    std::unique_ptr<TonePlayer> m_speakers;
};

INSTANTIATE_TEST_SUITE_P(Servers, PinnedRecording, ::testing::Values(Kind::PulseAudio, Kind::PipeWire),
                         [](const auto& info) { return info.param == Kind::PipeWire ? "PipeWire" : "PulseAudio"; });

TEST_P(PinnedRecording, OfASourceThatIsNotThereFailsAndHearsNothingElse)
{
    Recording recording("castorn_absent.monitor");
    EXPECT_TRUE(recording.FailsWithin(5s));
    EXPECT_EQ(recording.SoundSeconds(), 0) << "the default source's sound was recorded";
}

TEST_P(PinnedRecording, WhoseSourceGoesFailsAndHearsNothingElse)
{
    const std::string module = m_sound->Pactl("load-module module-null-sink sink_name=castorn_going");
    ASSERT_TRUE(WaitUntil([this] { return m_sound->Pactl("list sources short").find("castorn_going") != std::string::npos; }));
    Recording recording("castorn_going.monitor");
    ASSERT_TRUE(WaitUntil([&] { return recording.Delivers(); })) << "its source is recorded while there";
    EXPECT_FALSE(recording.FailsWithin(0ms));

    m_sound->Pactl("unload-module " + module.substr(0, module.find('\n')));
    EXPECT_TRUE(recording.FailsWithin(5s));
    EXPECT_LT(recording.SoundSeconds(), kPassedLimitSeconds) << "the source it was moved to was recorded";
}

}  // namespace
