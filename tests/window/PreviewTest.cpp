// The video frame control paints the pictures the engine hands to its receiver.
#include "support/WindowFixture.h"

#include "platform/DialogTemplate.h"

#include <QImage>

#include <cstdint>
#include <thread>
#include <vector>

namespace {

// A BGRx picture of one colour, its rows padded as GStreamer pads them, the fourth bytes left 0.
struct Picture {
    Picture(int width, int height, QRgb colour) : width(width), height(height), stride(width * 4 + 16)
    {
        pixels.assign(static_cast<std::size_t>(stride) * height, 0);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                std::uint8_t* pixel = &pixels[static_cast<std::size_t>(y) * stride + x * 4];
                pixel[0] = static_cast<std::uint8_t>(qBlue(colour));
                pixel[1] = static_cast<std::uint8_t>(qGreen(colour));
                pixel[2] = static_cast<std::uint8_t>(qRed(colour));
            }
    }
    int width;
    int height;
    int stride;
    std::vector<std::uint8_t> pixels;
};

constexpr QRgb kOrange = qRgb(0xff, 0x80, 0x40);
constexpr QRgb kGreen = qRgb(0x20, 0xc0, 0x30);
constexpr QRgb kBlack = qRgb(0, 0, 0);

class Preview : public WindowTest {
protected:
    // From a thread of its own, as the engine's streaming thread does; joined.
    static void Hand(const std::vector<Picture>& pictures)
    {
        ICastornPreview* receiver = RecordingEngine::previewReceiver;
        ASSERT_NE(receiver, nullptr) << "registered before going on air";
        std::thread engine([&] {
            for (const Picture& p : pictures) receiver->OnPreviewFrame(1, p.pixels.data(), p.width, p.height, p.stride);
        });
        engine.join();
    }

    QImage Shown() const { return DialogItem(*window, IDC_PREVIEW_FRAME)->grab().toImage(); }
    QRgb Middle() const
    {
        const QImage shown = Shown();
        return shown.pixel(shown.width() / 2, shown.height() / 2) & 0xffffff;
    }
    bool Shows(QRgb colour)
    {
        return WaitUntil([&] { return Middle() == (colour & 0xffffff); }, kWait);
    }

    static constexpr std::chrono::milliseconds kWait{2000};
};

}  // namespace

TEST_F(Preview, TheLatestPictureFillsTheFrameWithItsAspectKeptBetweenBlackBars)
{
    GoOnAir();
    ASSERT_NO_FATAL_FAILURE(Hand({Picture(200, 100, kGreen)}));
    ASSERT_TRUE(Shows(kGreen));
    const QImage shown = Shown();
    const int across = shown.width() / 2;
    EXPECT_EQ(shown.pixel(across, 2) & 0xffffff, kBlack & 0xffffff) << "a bar above the 2:1 picture";
    EXPECT_EQ(shown.pixel(across, shown.height() - 3) & 0xffffff, kBlack & 0xffffff) << "and below it";
    EXPECT_EQ(shown.pixel(3, shown.height() / 2) & 0xffffff, kGreen & 0xffffff) << "as wide as the frame";

    std::vector<Picture> burst(30, Picture(48, 64, kGreen));
    burst.emplace_back(48, 64, kOrange);
    ASSERT_NO_FATAL_FAILURE(Hand(burst));
    EXPECT_TRUE(Shows(kOrange)) << "a burst ends on its last picture";
    const QImage tall = Shown();
    EXPECT_EQ(tall.pixel(tall.width() / 2, 3) & 0xffffff, kOrange & 0xffffff) << "3:4 scaled up to the frame's height";
    EXPECT_EQ(tall.pixel(3, tall.height() / 2) & 0xffffff, kBlack & 0xffffff) << "with bars beside";
}

TEST_F(Preview, GoingOffAirDropsAPictureStillOnItsWayAndAnEngineThatStopsLeavesNoneFrozen)
{
    GoOnAir();
    ASSERT_NO_FATAL_FAILURE(Hand({Picture(160, 120, kOrange)}));
    ASSERT_TRUE(Shows(kOrange));
    ASSERT_NO_FATAL_FAILURE(Hand({Picture(160, 120, kGreen)}));  // handed over, not yet painted
    Click(IDC_OFF_AIR);
    WaitUntil([] { return false; }, std::chrono::milliseconds(300));
    EXPECT_EQ(Middle(), kBlack & 0xffffff);

    Click(IDC_ON_AIR);
    ASSERT_NO_FATAL_FAILURE(Hand({Picture(160, 120, kGreen)}));
    ASSERT_TRUE(Shows(kGreen));
    NotifyFromEngineThread(R"({"cmd":"OnPublishError","params":{"reason":"capture","message":"m","final":true}})");
    NotifyFromEngineThread(R"({"cmd":"OnPublishStopped","params":{}})");
    EXPECT_TRUE(Shows(kBlack)) << "the publication is over though the window is still on air";
}
