// The engine's own X screen source: the screen's pixels and pointer at the asked rate, black
// where a smaller screen no longer reaches, and a display that goes away as an error that
// the process outlives.
#include "castorn/GstRuntime.h"
#include "castorn/ScreenGrabber.h"
#include "castorn/ScreenSource.h"

#include "support/Command.h"
#include "support/Frozen.h"
#include "support/RootPaint.h"
#include "support/VirtualDisplay.h"
#include "support/WaitUntil.h"

#include <gst/app/gstappsink.h>
#include <gst/video/video.h>
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <thread>
#include <vector>

using namespace castorn;
using namespace test_support;
using namespace std::chrono_literals;

namespace {

constexpr std::uint32_t kBackground = 0xff8040;  // as the X server's pixel: red ff, green 80, blue 40
constexpr int kPointerX = 300;
constexpr int kPointerY = 200;

using Bgrx = std::array<int, 3>;

Bgrx PixelAt(const std::uint8_t* pixels, int width, int x, int y)
{
    const std::uint8_t* pixel = pixels + (std::size_t(y) * width + x) * 4;
    return {pixel[0], pixel[1], pixel[2]};
}

constexpr Bgrx kBackgroundBgrx{0x40, 0x80, 0xff};
constexpr Bgrx kBlack{0, 0, 0};

class ScreenSourceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!Installed("Xvfb")) GTEST_SKIP() << "Xvfb is not installed";
        m_display = std::make_unique<VirtualDisplay>(VirtualDisplay::Restartable{});
        m_paint = std::make_unique<RootPaint>(m_display->Name(), kBackground);
        m_paint->PlacePointer(kPointerX, kPointerY);
    }

    // The screen at 20 frames a second into the appsink `out`.
    void PlayScreen(GstElement*& pipeline, GstElement*& out)
    {
        std::string why;
        ASSERT_TRUE(InitGstreamer(why)) << why;
        const std::string description = std::string(kScreenSource) + " display-name=" + m_display->Name() +
                                        " ! video/x-raw,framerate=20/1 ! appsink name=out sync=false";
        pipeline = gst_parse_launch(description.c_str(), nullptr);
        ASSERT_NE(pipeline, nullptr);
        out = gst_bin_get_by_name(GST_BIN(pipeline), "out");
        gst_element_set_state(pipeline, GST_STATE_PLAYING);
    }

    std::vector<std::uint8_t> Grab(ScreenGrabber& grabber)
    {
        std::vector<std::uint8_t> pixels(std::size_t(grabber.Width()) * grabber.Height() * 4);
        EXPECT_TRUE(grabber.Grab(pixels.data())) << grabber.Error();
        return pixels;
    }

    std::unique_ptr<VirtualDisplay> m_display;
    std::unique_ptr<RootPaint> m_paint;
};

}  // namespace

TEST_F(ScreenSourceTest, GivesTheScreenWithItsPointerAtTheAskedRate)
{
    GstElement* out = nullptr;
    GstElement* pipeline = nullptr;
    ASSERT_NO_FATAL_FAILURE(PlayScreen(pipeline, out));
    std::vector<GstClockTime> times;
    for (int index = 0; index < 4; ++index) {
        GstSample* sample = gst_app_sink_try_pull_sample(GST_APP_SINK(out), 5 * GST_SECOND);
        ASSERT_NE(sample, nullptr) << "frame " << index;
        GstVideoInfo info;
        ASSERT_TRUE(gst_video_info_from_caps(&info, gst_sample_get_caps(sample)));
        EXPECT_EQ(GST_VIDEO_INFO_FORMAT(&info), GST_VIDEO_FORMAT_BGRx);
        EXPECT_EQ(info.width, 1280);
        EXPECT_EQ(info.height, 720);
        GstMapInfo map;
        gst_buffer_map(gst_sample_get_buffer(sample), &map, GST_MAP_READ);
        EXPECT_EQ(PixelAt(map.data, info.width, 10, 10), kBackgroundBgrx);
        EXPECT_EQ(PixelAt(map.data, info.width, 1270, 710), kBackgroundBgrx);
        int pointerPixels = 0;
        for (int y = kPointerY - 8; y <= kPointerY + 8; ++y)
            for (int x = kPointerX - 8; x <= kPointerX + 8; ++x)
                pointerPixels += PixelAt(map.data, info.width, x, y) != kBackgroundBgrx;
        EXPECT_GT(pointerPixels, 10) << "the pointer is drawn where it is";
        gst_buffer_unmap(gst_sample_get_buffer(sample), &map);
        times.push_back(GST_BUFFER_PTS(gst_sample_get_buffer(sample)));
        gst_sample_unref(sample);
    }
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(out);
    gst_object_unref(pipeline);
    for (std::size_t index = 1; index < times.size(); ++index) {
        EXPECT_GT(times[index], times[index - 1]);
        EXPECT_EQ((times[index] - times[0]) % (GST_SECOND / 20), 0u) << "on the frame grid of 20 a second";
    }
}

TEST_F(ScreenSourceTest, AScreenMadeSmallerIsBlackWhereItNoLongerReaches)
{
    if (!Installed("xrandr")) GTEST_SKIP() << "xrandr is not installed";
    ScreenGrabber grabber(m_display->Name());
    ASSERT_TRUE(grabber.Ok()) << grabber.Error();
    // As when the larger of two monitors is unplugged.
    const std::string xrandr = "DISPLAY=" + m_display->Name() + " xrandr ";
    CommandOutput(xrandr + "--output screen --off 2>&1; " + xrandr + "--fb 640x480 2>&1");
    const auto pixels = Grab(grabber);
    EXPECT_EQ(PixelAt(pixels.data(), 1280, 100, 100), kBackgroundBgrx);
    EXPECT_EQ(PixelAt(pixels.data(), 1280, 1000, 100), kBlack);
    EXPECT_EQ(PixelAt(pixels.data(), 1280, 100, 600), kBlack);
}

TEST_F(ScreenSourceTest, ADisplayThatGoesAwayFailsTheGrabAndCanBeOpenedOnceBack)
{
    ScreenGrabber grabber(m_display->Name());
    ASSERT_TRUE(grabber.Ok()) << grabber.Error();
    EXPECT_EQ(PixelAt(Grab(grabber).data(), 1280, 10, 10), kBackgroundBgrx);
    m_paint.reset();
    m_display->Stop();
    std::vector<std::uint8_t> pixels(std::size_t(1280) * 720 * 4);
    EXPECT_FALSE(grabber.Grab(pixels.data())) << "the process goes on";
    EXPECT_NE(grabber.Error().find("went away"), std::string::npos) << grabber.Error();
    EXPECT_FALSE(ScreenGrabber(m_display->Name()).Ok());
    m_display->Start();
    ScreenGrabber again(m_display->Name());
    ASSERT_TRUE(again.Ok()) << again.Error();
    Grab(again);
}

TEST_F(ScreenSourceTest, AStoppedServerHoldsUpNeitherTheGrabNorTheStop)
{
    GstElement* out = nullptr;
    GstElement* pipeline = nullptr;
    ASSERT_NO_FATAL_FAILURE(PlayScreen(pipeline, out));
    GstSample* first = gst_app_sink_try_pull_sample(GST_APP_SINK(out), 5 * GST_SECOND);
    EXPECT_NE(first, nullptr);
    if (first) gst_sample_unref(first);
    {
        Frozen frozen(*m_display);
        std::this_thread::sleep_for(300ms);  // many frames' time: the grab now waits on the server
        std::atomic<bool> stopped{false};
        std::thread stop([&] {
            gst_element_set_state(pipeline, GST_STATE_NULL);
            stopped = true;
        });
        EXPECT_TRUE(WaitUntil([&] { return stopped.load(); }, 3s)) << "the stop waited for the stopped server";
        frozen.Thaw();
        stop.join();
    }
    gst_object_unref(out);
    gst_object_unref(pipeline);
}
