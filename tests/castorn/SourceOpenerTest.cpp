// Opening a source off the caller's thread: an attempt whose opener is dropped
// finishes and cleans up by itself, and the engine can wait for it to end.
#include "castorn/SourceOpener.h"

#include "castorn/LingeringWork.h"

#include <gst/gst.h>
#include <gtest/gtest.h>

using namespace castorn;
using namespace std::chrono_literals;

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
