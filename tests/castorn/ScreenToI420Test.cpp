// The screen converter: BT.601 colours, the stream's size, and black around a picture of
// another shape.
#include "castorn/GstRuntime.h"
#include "castorn/ScreenToI420.h"

#include <gst/app/gstappsink.h>
#include <gst/app/gstappsrc.h>
#include <gst/video/video.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

using namespace castorn;

namespace {

struct Yuv {
    int y, u, v;
};
// BT.601 at studio range.
constexpr Yuv kRed{82, 90, 240};
constexpr Yuv kWhite{235, 128, 128};
constexpr Yuv kBlack{16, 128, 128};
constexpr int kTolerance = 2;

struct Probe {
    int x, y;
    Yuv expected;
};

struct Case {
    const char* what;
    int inWidth, inHeight, outWidth, outHeight;
    std::vector<Probe> probes;
};

// A BGRx picture, red on the left half and white on the right.
GstBuffer* RedAndWhite(int width, int height)
{
    GstBuffer* buffer = gst_buffer_new_allocate(nullptr, gsize(width) * height * 4, nullptr);
    GstMapInfo map;
    gst_buffer_map(buffer, &map, GST_MAP_WRITE);
    for (int row = 0; row < height; ++row)
        for (int column = 0; column < width; ++column) {
            guint8* pixel = map.data + (gsize(row) * width + column) * 4;
            const guint8 blueGreen = column < width / 2 ? 0 : 255;
            pixel[0] = pixel[1] = blueGreen;
            pixel[2] = pixel[3] = 255;
        }
    gst_buffer_unmap(buffer, &map);
    return buffer;
}

// The converted frame of one picture, as the screen source's chain ends.
GstSample* Convert(const Case& c)
{
    std::string why;
    EXPECT_TRUE(InitGstreamer(why)) << why;
    const std::string description =
        "appsrc name=in format=time caps=video/x-raw,format=BGRx,width=" + std::to_string(c.inWidth) +
        ",height=" + std::to_string(c.inHeight) + ",framerate=30/1,pixel-aspect-ratio=1/1 ! " + kScreenToI420 +
        " ! video/x-raw,format=I420,width=" + std::to_string(c.outWidth) + ",height=" + std::to_string(c.outHeight) +
        ",pixel-aspect-ratio=1/1 ! appsink name=out";
    GstElement* pipeline = gst_parse_launch(description.c_str(), nullptr);
    GstElement* in = gst_bin_get_by_name(GST_BIN(pipeline), "in");
    GstElement* out = gst_bin_get_by_name(GST_BIN(pipeline), "out");
    gst_element_set_state(pipeline, GST_STATE_PLAYING);
    gst_app_src_push_buffer(GST_APP_SRC(in), RedAndWhite(c.inWidth, c.inHeight));
    GstSample* sample = gst_app_sink_try_pull_sample(GST_APP_SINK(out), 5 * GST_SECOND);
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(in);
    gst_object_unref(out);
    gst_object_unref(pipeline);
    return sample;
}

}  // namespace

TEST(ScreenToI420, GivesTheStreamsSizeInBt601WithBlackAroundAnotherShape)
{
    const Case cases[] = {
        {"the same size", 64, 36, 64, 36, {{16, 18, kRed}, {48, 18, kWhite}}},
        {"half the size", 128, 72, 64, 36, {{16, 18, kRed}, {48, 18, kWhite}}},
        // Another shape: black left and right, or above and below.
        {"4:3 in 16:9", 48, 36, 64, 36, {{2, 18, kBlack}, {61, 18, kBlack}, {20, 18, kRed}, {44, 18, kWhite}}},
        {"16:9 in 4:3", 64, 36, 48, 36, {{24, 1, kBlack}, {24, 34, kBlack}, {12, 18, kRed}, {36, 18, kWhite}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        GstSample* sample = Convert(c);
        ASSERT_NE(sample, nullptr) << "no frame came out";
        GstVideoInfo info;
        ASSERT_TRUE(gst_video_info_from_caps(&info, gst_sample_get_caps(sample)));
        EXPECT_EQ(GST_VIDEO_INFO_FORMAT(&info), GST_VIDEO_FORMAT_I420);
        EXPECT_EQ(info.width, c.outWidth);
        EXPECT_EQ(info.height, c.outHeight);
        GstVideoFrame frame;
        ASSERT_TRUE(gst_video_frame_map(&frame, &info, gst_sample_get_buffer(sample), GST_MAP_READ));
        auto at = [&frame](guint plane, int x, int y) {
            return int(static_cast<const guint8*>(
                GST_VIDEO_FRAME_PLANE_DATA(&frame, plane))[y * GST_VIDEO_FRAME_PLANE_STRIDE(&frame, plane) + x]);
        };
        for (const Probe& probe : c.probes) {
            SCOPED_TRACE("at " + std::to_string(probe.x) + "," + std::to_string(probe.y));
            EXPECT_NEAR(at(0, probe.x, probe.y), probe.expected.y, kTolerance);
            EXPECT_NEAR(at(1, probe.x / 2, probe.y / 2), probe.expected.u, kTolerance);
            EXPECT_NEAR(at(2, probe.x / 2, probe.y / 2), probe.expected.v, kTolerance);
        }
        gst_video_frame_unmap(&frame);
        gst_sample_unref(sample);
    }
}
