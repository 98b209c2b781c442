#include "castorn/CongestionControl.h"
#include "castorn/SendBacklog.h"
#include "castorn/TagQueue.h"

#include <gst/gst.h>
#include <gtest/gtest.h>

using namespace castorn;
using namespace std::chrono_literals;

namespace {

// A connection that carries `kbps` under a stream made at `makeKbps`, polled every 100 ms:
// what it cannot carry piles up, and the backlog says how long that takes to go.
class Link {
public:
    Link(CongestionControl& control, int kbps) : m_control(control), m_kbps(kbps) {}

    void Run(std::chrono::milliseconds span, int audioKbps)
    {
        for (auto left = span; left > 0ms; left -= kStep) {
            m_now += kStep;
            const std::uint64_t made =
                static_cast<std::uint64_t>(m_control.VideoKbps() + audioKbps) * kStep.count() / 8;
            m_waiting += m_control.DropVideo() ? static_cast<std::uint64_t>(audioKbps) * kStep.count() / 8 : made;
            const std::uint64_t carried = std::min<std::uint64_t>(m_waiting, std::uint64_t(m_kbps) * kStep.count() / 8);
            m_waiting -= carried;
            m_delivered += carried;
            const auto behind =
                std::chrono::milliseconds(m_waiting * 8 / std::max(1, m_control.VideoKbps() + audioKbps));
            m_control.Update(m_now, behind, m_delivered, m_waiting);
            m_lowest = std::min(m_lowest, m_control.VideoKbps());
            m_highest = std::max(m_highest, m_control.VideoKbps());
            m_longest = std::max(m_longest, m_control.Backlog());
        }
    }
    void Reset() { m_lowest = m_highest = m_control.VideoKbps(), m_longest = 0ms; }
    void SetKbps(int kbps) { m_kbps = kbps; }

    int m_lowest = 1 << 30;
    int m_highest = 0;
    std::chrono::milliseconds m_longest{0};

private:
    static constexpr std::chrono::milliseconds kStep{100};
    CongestionControl& m_control;
    int m_kbps;
    CongestionControl::Clock::time_point m_now{};
    std::uint64_t m_waiting = 0;
    std::uint64_t m_delivered = 0;
};

}  // namespace

TEST(CongestionControl, LowersToWhatTheConnectionCarriesThenClimbsBackToTheSettingNeverAbove)
{
    CongestionControl control({2500, 128, true});
    Link link(control, 100000);
    link.Run(5s, 128);
    EXPECT_EQ(control.VideoKbps(), 2500);
    EXPECT_FALSE(control.Congested());

    link.SetKbps(1000);
    link.Reset();
    link.Run(3s, 128);
    EXPECT_LT(control.VideoKbps(), 1000 - 128) << "lowered within a couple of seconds";
    EXPECT_TRUE(control.Congested());
    link.Reset();
    link.Run(60s, 128);
    EXPECT_GE(link.m_lowest, 1000 * 60 / 100) << "not cut far below what the connection carries";
    EXPECT_LE(link.m_highest, 1000 * 130 / 100) << "probing goes a step over at most";
    EXPECT_LT(link.m_longest, CongestionControl::kDropAbove) << "the backlog stays short once adapted";

    link.SetKbps(100000);
    link.Reset();
    link.Run(20s, 128);
    EXPECT_EQ(control.VideoKbps(), 2500) << "back at the setting";
    EXPECT_EQ(link.m_highest, 2500) << "never above it";
    link.Run(3s, 128);
    EXPECT_FALSE(control.Congested());
}

TEST(CongestionControl, PicturesAreDroppedPastASecondAndTakenAgainOnceTheBacklogDrains)
{
    CongestionControl control({2500, 128, false});
    const auto start = CongestionControl::Clock::time_point{};
    control.Restart(start, 0);
    control.Update(start + 100ms, 900ms, 0, 0);
    EXPECT_TRUE(control.DropVideo());
    control.Update(start + 200ms, 500ms, 0, 0);
    EXPECT_TRUE(control.DropVideo()) << "not taken again on the first dip";
    control.Update(start + 300ms, 200ms, 0, 0);
    EXPECT_FALSE(control.DropVideo());
    EXPECT_EQ(control.VideoKbps(), 2500) << "without adaptive bitrate the rate stays";
    EXPECT_TRUE(control.Congested()) << "told for a while after";
    control.Update(start + 5s, 0ms, 0, 0);
    EXPECT_FALSE(control.Congested());
}

TEST(CongestionControl, WhatWaitsCountsByTheTimeItTakesToGoOnASlowConnection)
{
    CongestionControl control({2500, 128, false});
    const auto start = CongestionControl::Clock::time_point{};
    control.Restart(start, 0);
    // 300 kbit/s taken for a second, 60 KB waiting: 1.6 s to go, though made in 0.2 s.
    for (int step = 1; step <= 10; ++step) control.Update(start + step * 100ms, 0ms, step * 3750, 0);
    control.Update(start + 1100ms, 200ms, 41250, 60000);
    EXPECT_GE(control.Backlog(), 1500ms);
    EXPECT_TRUE(control.DropVideo());
}

TEST(SendBacklog, TheOldestTagStillWaitingAgainstTheNewestMade)
{
    SendBacklog backlog;
    for (std::uint32_t time = 1000; time <= 2000; time += 100) {
        backlog.Encoded(time);
        backlog.Queued(time, 1000);
    }
    backlog.Encoded(2100);  // made, but left out
    backlog.Queued(2200, 1000);
    backlog.Encoded(2200);
    EXPECT_EQ(backlog.Behind(2500), 300ms) << "the newest three tags wait, the oldest of them from 1900";
    EXPECT_EQ(backlog.Behind(1500), 200ms) << "part of the tag from 2000 still waits";
    EXPECT_EQ(backlog.Behind(0), 0ms);
    EXPECT_EQ(backlog.Behind(1000000), 0ms) << "tags counted gone stay gone";
}

TEST(TagQueue, DroppingVideoKeepsSoundAndHeadersInOrder)
{
    gst_init(nullptr, nullptr);
    const auto sample = [](std::size_t bytes) {
        GstBuffer* buffer = gst_buffer_new_allocate(nullptr, bytes, nullptr);
        GstSample* made = gst_sample_new(buffer, nullptr, nullptr, nullptr);
        gst_buffer_unref(buffer);
        return made;
    };
    TagQueue queue;
    queue.Add(sample(10), FlvTagKind::Header);
    queue.Add(sample(500), FlvTagKind::VideoKey);
    queue.Add(sample(20), FlvTagKind::Audio);
    queue.Add(sample(100), FlvTagKind::VideoDelta);
    queue.Add(sample(21), FlvTagKind::Audio);
    EXPECT_EQ(queue.Bytes(), 651u);
    EXPECT_EQ(queue.DropVideo(), 2);
    EXPECT_EQ(queue.Bytes(), 51u);
    for (const std::size_t expected : {10u, 20u, 21u}) {
        GstSample* taken = queue.Take();
        ASSERT_NE(taken, nullptr);
        EXPECT_EQ(gst_buffer_get_size(gst_sample_get_buffer(taken)), expected);
        gst_sample_unref(taken);
    }
    EXPECT_EQ(queue.Take(), nullptr);
    queue.Add(sample(30), FlvTagKind::VideoDelta);  // freed with the queue
}
