// Opening a source off the caller's thread: an attempt whose opener is dropped
// finishes and cleans up by itself, and the engine can wait for it to end. (A sound
// server's recording refused as it settles: PinnedRecordingTest.cpp.)
#include "castorn/SourceOpener.h"

#include "castorn/LingeringWork.h"
#include "support/WaitUntil.h"

#include <gst/gst.h>
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>

using namespace castorn;
using namespace std::chrono_literals;

namespace {

// A live source whose media is in `caps` when it settles, as a bin with a "src" pad.
GstElement* LiveSource(const std::string& caps)
{
    gst_init(nullptr, nullptr);
    return GST_ELEMENT(gst_object_ref_sink(
        gst_parse_bin_from_description(("audiotestsrc is-live=true ! " + caps).c_str(), TRUE, nullptr)));
}

// Whether the attempt ends, and then whether the source opened.
std::optional<bool> Outcome(const SourceOpener& opener)
{
    test_support::WaitUntil([&] { return opener.Opened().has_value(); });
    return opener.Opened();
}

}  // namespace

TEST(SourceOpener, AnAbandonedAttemptIsWaitedForAndLeavesTheSourceClosed)
{
    gst_init(nullptr, nullptr);
    // A full reference, as the pipeline makes its sources: the opener takes it, this test
    // keeps one of its own.
    GstElement* source = GST_ELEMENT(gst_object_ref_sink(gst_bin_new(nullptr)));
    gst_object_ref(source);
    // Held here, the source's state lock keeps the attempt from going on.
    GST_STATE_LOCK(source);
    std::make_unique<SourceOpener>(source).reset();
    EXPECT_FALSE(LingeringWork::Await(0ms)) << "the attempt still runs";
    GST_STATE_UNLOCK(source);
    EXPECT_TRUE(LingeringWork::Await(10s));
    EXPECT_EQ(GST_STATE(source), GST_STATE_NULL) << "opened, then closed again";
    EXPECT_EQ(GST_OBJECT_REFCOUNT_VALUE(source), 1) << "and let go";
    gst_object_unref(source);
}

TEST(SourceOpener, ASourceThatSettlesIsOpenAndHandedOver)
{
    SourceOpener opener(LiveSource("audio/x-raw,rate=48000"));
    ASSERT_EQ(Outcome(opener), true);
    GstElement* source = opener.Take();
    ASSERT_NE(source, nullptr);
    EXPECT_EQ(GST_STATE(source), GST_STATE_PAUSED);
    gst_element_set_state(source, GST_STATE_NULL);
    gst_object_unref(source);
}
