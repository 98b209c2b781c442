// A capture path switched from its source to its stand-in while the source's streaming
// thread is stuck, downstream in the middle of a push or inside the source as in a driver
// call that does not return: the thread that handles the bus never waits for it, the
// stand-in takes over, and nothing the source pushes afterwards reaches the bus as an error.
#include "castorn/FallbackSource.h"
#include "castorn/GstRef.h"
#include "castorn/LingeringWork.h"
#include "support/WaitUntil.h"

#include <gst/gst.h>
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

using namespace castorn;
using test_support::WaitUntil;
using namespace std::chrono_literals;

namespace {

// Far above a switch, far below forever: only a wait on a stuck thread reaches it.
constexpr std::chrono::milliseconds kBound{10000};
constexpr char kCaps[] = "capsfilter caps=audio/x-raw,format=S16LE,layout=interleaved,rate=44100,channels=1";

// A point in a streaming thread that, once shut, keeps the next buffer there until it is
// opened. Unlike a blocking probe, stopping the element does not free it.
class Gate {
public:
    void Shut()
    {
        std::lock_guard lock(m_mutex);
        m_shut = true;
    }
    void Open()
    {
        std::lock_guard lock(m_mutex);
        m_shut = false;
        m_changed.notify_all();
    }
    bool AwaitStuck()
    {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, kBound, [this] { return m_stuck; });
    }
    bool Stuck()
    {
        std::lock_guard lock(m_mutex);
        return m_stuck;
    }
    int Passed() const { return m_passed; }
    static void OnHandoff(GstElement*, GstBuffer*, gpointer gate) { static_cast<Gate*>(gate)->Pass(); }

private:
    void Pass()
    {
        ++m_passed;
        std::unique_lock lock(m_mutex);
        if (!m_shut) return;
        m_stuck = true;
        m_changed.notify_all();
        m_changed.wait(lock, [this] { return !m_shut; });
        m_stuck = false;
    }

    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_shut = false;
    bool m_stuck = false;
    std::atomic<int> m_passed{0};
};

class FallbackSwitch : public ::testing::Test {
protected:
    void SetUp() override
    {
        gst_init(nullptr, nullptr);
        m_pipeline = Parsed(
            "identity name=joint ! identity name=downstream signal-handoffs=true ! fakesink sync=false "
            "signal-handoffs=true name=sink");
        ASSERT_NE(m_pipeline, nullptr);
        const ElementRef joint(gst_bin_get_by_name(GST_BIN(m_pipeline), "joint"));
        const ElementRef downstream(gst_bin_get_by_name(GST_BIN(m_pipeline), "downstream"));
        const ElementRef sink(gst_bin_get_by_name(GST_BIN(m_pipeline), "sink"));
        g_signal_connect(downstream.get(), "handoff", G_CALLBACK(&Gate::OnHandoff), &m_downstream);
        g_signal_connect(sink.get(), "handoff", G_CALLBACK(&FallbackSwitch::OnSunk), this);
        const PadRef jointPad(gst_element_get_static_pad(joint.get(), "sink"));
        m_fallback = std::make_unique<FallbackSource>(
            GST_BIN(m_pipeline), jointPad.get(), [this](std::string&) { return Tone(); },
            [](GstClockTime from) { return Silence(from); }, [](const std::string&, bool) {});
        m_fallback->Build();
        gst_element_set_state(m_pipeline, GST_STATE_PLAYING);
        ASSERT_TRUE(Drive([this] { return m_tone > 0; })) << "the source feeds the path";
    }

    void TearDown() override
    {
        m_downstream.Open();
        m_inside.Open();
        if (m_pipeline) {
            gst_element_set_state(m_pipeline, GST_STATE_NULL);
            m_fallback.reset();
            gst_object_unref(m_pipeline);
        }
        EXPECT_TRUE(LingeringWork::Await(kBound)) << "a source taken out is stopped once its thread goes on";
    }

    static GstElement* Parsed(const std::string& description, bool bin = false)
    {
        GError* error = nullptr;
        GstElement* element = bin ? gst_parse_bin_from_description(description.c_str(), TRUE, &error)
                                  : gst_parse_launch(description.c_str(), &error);
        g_clear_error(&error);
        return element ? GST_ELEMENT(gst_object_ref_sink(element)) : nullptr;
    }

    GstElement* Tone()
    {
        GstElement* bin = Parsed(
            "audiotestsrc name=tone is-live=true samplesperbuffer=441 ! identity name=inside "
            "signal-handoffs=true ! " +
                std::string(kCaps),
            true);
        const ElementRef tone(gst_bin_get_by_name(GST_BIN(bin), "tone"));
        const ElementRef inside(gst_bin_get_by_name(GST_BIN(bin), "inside"));
        m_toneSource = tone.get();  // the bin holds it
        g_signal_connect(inside.get(), "handoff", G_CALLBACK(&Gate::OnHandoff), &m_inside);
        return bin;
    }

    static GstElement* Silence(GstClockTime from)
    {
        GstElement* bin = Parsed("audiotestsrc wave=silence is-live=true samplesperbuffer=441 timestamp-offset=" +
                                     std::to_string(from) + " ! " + kCaps,
                                 true);
        return bin;
    }

    static void OnSunk(GstElement*, GstBuffer* buffer, GstPad*, gpointer self)
    {
        auto* test = static_cast<FallbackSwitch*>(self);
        GstMapInfo map;
        if (!gst_buffer_map(buffer, &map, GST_MAP_READ)) return;
        bool silent = true;
        for (gsize i = 0; i < map.size && silent; ++i) silent = map.data[i] == 0;
        gst_buffer_unmap(buffer, &map);
        ++(silent ? test->m_silence : test->m_tone);
    }

    // As the engine's loop: the bus's messages to the source, which is tended between
    // them, until `done` or the bound. Errors the source does not take are kept, and the
    // pipeline's end is noted.
    template <class Done>
    bool Drive(Done done)
    {
        const BusRef bus(gst_element_get_bus(m_pipeline));
        const auto deadline = std::chrono::steady_clock::now() + kBound;
        while (!done()) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            const std::unique_ptr<GstMessage, GstMessageUnref> message(gst_bus_timed_pop(bus.get(), 20 * GST_MSECOND));
            if (message && !m_fallback->TakeMessage(message.get())) {
                if (GST_MESSAGE_TYPE(message.get()) == GST_MESSAGE_ERROR)
                    m_errors.push_back(GST_OBJECT_NAME(GST_MESSAGE_SRC(message.get())));
                m_ended = m_ended || GST_MESSAGE_TYPE(message.get()) == GST_MESSAGE_EOS;
            }
            m_fallback->Tend();
        }
        return true;
    }

    // The source fails, told on the loop's thread while its streaming thread is stuck:
    // true when that returned within the bound. The stuck thread goes on either way.
    bool LoseWhileStuck(Gate& gate)
    {
        gate.Shut();
        if (!gate.AwaitStuck()) return false;
        GError* error = g_error_new_literal(GST_RESOURCE_ERROR, GST_RESOURCE_ERROR_READ, "the device went away");
        const std::unique_ptr<GstMessage, GstMessageUnref> failed(
            gst_message_new_error(GST_OBJECT(m_toneSource), error, nullptr));
        g_error_free(error);
        auto lose = std::async(std::launch::async, [&] { return m_fallback->TakeMessage(failed.get()); });
        const bool returned = lose.wait_for(kBound) == std::future_status::ready;
        if (!returned) gate.Open();
        EXPECT_TRUE(lose.get()) << "the source's error is the source's to take";
        return returned;
    }

    // The stand-in feeds, and a while longer nothing reaches the bus as an error.
    void ExpectStandInFeeds()
    {
        const int silence = m_silence;
        EXPECT_TRUE(Drive([&] { return m_silence > silence + 50; })) << "the stand-in takes over";
        EXPECT_EQ(m_errors, std::vector<std::string>{}) << "errors of what was switched away from";
    }

    GstElement* m_pipeline = nullptr;
    std::unique_ptr<FallbackSource> m_fallback;
    GstElement* m_toneSource = nullptr;
    Gate m_downstream;
    Gate m_inside;
    std::atomic<int> m_tone{0};
    std::atomic<int> m_silence{0};
    std::vector<std::string> m_errors;
    bool m_ended = false;
};

}  // namespace

TEST_F(FallbackSwitch, ASourceStuckInAPushDownstreamIsSwitchedAwayOnceThePushReturns)
{
    ASSERT_TRUE(LoseWhileStuck(m_downstream)) << "the switch waited for the source's push";
    m_downstream.Open();
    // It pushes on, unlinked, before the loop takes it out: an unlinked pad's error would
    // reach the bus and end the capture.
    const int pushed = m_inside.Passed();
    WaitUntil([&] { return m_inside.Passed() > pushed + 3; }, 5s);
    ExpectStandInFeeds();
}

TEST_F(FallbackSwitch, ASourceStuckInsideIsReplacedAtOnceAndStoppedOnceItGoesOn)
{
    ASSERT_TRUE(LoseWhileStuck(m_inside)) << "the switch waited for the source to stop";
    ExpectStandInFeeds();
    EXPECT_TRUE(m_inside.Stuck()) << "the stand-in fed while the source was still stuck";
    m_inside.Open();
    EXPECT_TRUE(LingeringWork::Await(kBound));
}

TEST_F(FallbackSwitch, TheEndOfStreamAskedInTheMiddleOfASwitchComesThroughTheNextFeed)
{
    ASSERT_TRUE(LoseWhileStuck(m_downstream));
    m_downstream.Open();  // the switch's news is on the bus, not yet read
    m_fallback->SetEnding();
    auto send = std::async(std::launch::async, [this] { gst_element_send_event(m_pipeline, gst_event_new_eos()); });
    const bool sent = send.wait_for(kBound) == std::future_status::ready;
    EXPECT_TRUE(Drive([this] { return m_ended; })) << "the pipeline ended";
    send.get();
    EXPECT_TRUE(sent) << "the end of stream waited for a feed held at its pad";
    EXPECT_EQ(m_errors, std::vector<std::string>{});
}

TEST_F(FallbackSwitch, APipelineEndedWhileItsSourceIsStuckInsideIsNotHeldUp)
{
    m_inside.Shut();
    ASSERT_TRUE(m_inside.AwaitStuck());
    auto end = std::async(std::launch::async, [this] {
        m_fallback->Withdraw();
        gst_element_set_state(m_pipeline, GST_STATE_NULL);
    });
    const bool returned = end.wait_for(kBound) == std::future_status::ready;
    EXPECT_TRUE(m_inside.Stuck());
    m_inside.Open();
    end.get();
    EXPECT_TRUE(returned) << "the pipeline's stop waited for the stuck source";
}

TEST_F(FallbackSwitch, APipelineEndedInTheMiddleOfASwitchLeavesNothingBehind)
{
    ASSERT_TRUE(LoseWhileStuck(m_downstream));
    m_downstream.Open();
    // TearDown ends it with the switch's news unread; the leak checker has the last word.
}
