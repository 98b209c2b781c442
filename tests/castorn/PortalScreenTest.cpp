// The screen of a Wayland desktop through its ScreenCast portal, on air to nginx: what the
// compositor shows reaches the server, at the stream's rate even while nothing moves; the
// portal's chooser is asked once, its refusal is told and leaves black; a cast the desktop
// ends is a lost source that comes back without asking again.
#include "OnAirFixture.h"

#include "support/Files.h"
#include "support/TempDir.h"
#include "support/WaitUntil.h"
#include "support/WaylandDesktop.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <thread>

using namespace std::chrono_literals;

namespace castorn_test {

namespace {

// A ball going round on a known colour (R 0x20, G 0x60, B 0xc0): the colour fills most
// of the screen, and the ball moves.
constexpr char kMovingPicture[] = "pattern=ball background-color=0xff2060c0 foreground-color=0xffffffff";
constexpr unsigned char kColour[] = {0x20, 0x60, 0xc0};
// A still picture of another colour (R 0xc0, G 0x60, B 0x20).
constexpr char kStillPicture[] = "pattern=solid-color foreground-color=0xffc06020";
constexpr unsigned char kStillColour[] = {0xc0, 0x60, 0x20};
// The stream's picture, through H.264 at this rate, stays this close to the screen's.
constexpr int kColourSlack = 28;

bool Near(const unsigned char* pixel, const unsigned char* colour)
{
    for (int channel = 0; channel < 3; ++channel)
        if (std::abs(pixel[channel] - colour[channel]) > kColourSlack) return false;
    return true;
}

// The share of the picture's pixels that are near the colour.
double ShareOf(const Thumbnail& picture, const unsigned char* colour)
{
    int near = 0;
    for (std::size_t at = 0; at + 3 <= picture.size(); at += 3) near += Near(&picture[at], colour);
    return near / double(picture.size() / 3);
}

bool Differ(const Thumbnail& one, const Thumbnail& other)
{
    for (std::size_t at = 0; at < one.size(); ++at)
        if (std::abs(one[at] - other[at]) > 40) return true;
    return false;
}

// The pictures from `skip` on: the first ones are the stand-in's, until the cast has media.
std::vector<Thumbnail> PicturesAfter(const std::string& file, std::size_t skip)
{
    std::vector<Thumbnail> pictures = RgbThumbnails(file);
    pictures.erase(pictures.begin(), pictures.begin() + std::min(skip, pictures.size()));
    return pictures;
}

}  // namespace

class PortalScreenPublishing : public Publishing {
protected:
    static void SetUpTestSuite()
    {
        s_missing = WaylandDesktop::Missing();
        if (!s_missing.empty()) return;
        try {
            s_desktop = new WaylandDesktop();
        } catch (const std::exception& error) {
            s_failure = error.what();
        }
    }

    static void TearDownTestSuite()
    {
        delete s_desktop;
        s_desktop = nullptr;
    }

    // Only nginx: the picture comes from the desktop, the sound is the stand-in's silence.
    void SetUp() override
    {
        if (!s_missing.empty()) GTEST_SKIP() << s_missing;
        ASSERT_NE(s_desktop, nullptr) << s_failure;
        // The restore token is kept here: each test starts with none.
        setenv("XDG_STATE_HOME", m_state.Path().c_str(), 1);
        s_desktop->RefuseChooser(false);
        s_desktop->Show(kMovingPicture);
        m_server = std::make_unique<RtmpServer>();
        m_engine = CreateCastorn(&m_log);
        ASSERT_NE(m_engine, nullptr);
    }

    void TearDown() override
    {
        Publishing::TearDown();
        if (!HasFailure() || !s_desktop) return;
        for (const std::string& text : m_log.Texts()) std::cerr << text << '\n';
        std::cerr << "the desktop said:\n" << ReadFile(s_desktop->Folder() + "/desktop.log");
    }

    OnAir FromThePortal()
    {
        OnAir on{.width = 640, .height = 360, .fps = 25};
        on.video = DeviceIndex(true, u"Screen (desktop portal)");
        EXPECT_GE(on.video, 0) << "a Wayland session offers its screen through the portal";
        return on;
    }

    // The cast has media once the stream's pictures are no longer the stand-in's black.
    void ExpectKnownMovingPicture(const std::string& file)
    {
        const std::vector<Thumbnail> pictures = PicturesAfter(file, 25);
        ASSERT_GE(pictures.size(), 25u);
        std::size_t coloured = 0;
        std::size_t moved = 0;
        // The ball crosses a thumbnail's pixel in a few pictures: each is compared with the
        // one a fifth of a second later.
        constexpr std::size_t kApart = 5;
        for (std::size_t i = 0; i < pictures.size(); ++i) {
            coloured += ShareOf(pictures[i], kColour) > 0.6;
            moved += i >= kApart && Differ(pictures[i], pictures[i - kApart]);
        }
        EXPECT_GT(coloured, pictures.size() * 9 / 10) << "the desktop's picture fills the stream";
        // A loaded machine's compositor and PipeWire give fewer frames: the stream repeats some.
        EXPECT_GT(moved, (pictures.size() - kApart) / 2) << "what moves on the desktop moves in the stream";
    }

    std::string TokenFile() const { return m_state / "publish_tavisk/screencast-token"; }

    inline static WaylandDesktop* s_desktop = nullptr;
    inline static std::string s_missing;
    inline static std::string s_failure;
    TempDir m_state;
};

TEST_F(PortalScreenPublishing, PublishesTheDesktopAndAsksForTheScreenOnce)
{
    const int calls = s_desktop->ChooserCalls();
    const OnAir on = FromThePortal();
    ASSERT_NO_FATAL_FAILURE(GoLive(on));
    ASSERT_NO_FATAL_FAILURE(GoOffAir(3s));
    EXPECT_EQ(s_desktop->ChooserCalls(), calls + 1) << "the first going on air asks which screen";
    EXPECT_EQ(m_log.Count("OnSourceLost", castorn_notification::kSourceVideo), 0);
    const MediaInfo first = OnlyRecording();
    ExpectAsAsked(first, on);
    ExpectKnownMovingPicture(m_server->Recordings().back());
    struct stat token {};
    ASSERT_EQ(stat(TokenFile().c_str(), &token), 0) << "the desktop's restore token is kept";
    EXPECT_EQ(token.st_mode & 0777, 0600u) << "the token is the user's alone";

    ASSERT_NO_FATAL_FAILURE(GoLive(on));
    ASSERT_NO_FATAL_FAILURE(GoOffAir(2s));
    EXPECT_EQ(s_desktop->ChooserCalls(), calls + 1) << "a later going on air restores the cast without asking";
    EXPECT_EQ(m_log.Count("OnSourceLost", castorn_notification::kSourceVideo), 0);
    ASSERT_EQ(m_server->Recordings().size(), 2u);
    ExpectKnownMovingPicture(m_server->Recordings().back());
}

TEST_F(PortalScreenPublishing, AStillScreenKeepsTheStreamsFrameRate)
{
    s_desktop->Show(kStillPicture);
    ASSERT_TRUE(WaitUntil(
        [] {
            const auto pixel = s_desktop->MiddlePixel();
            return pixel.size() == 3 && Near(pixel.data(), kStillColour);
        },
        10s))
        << "the still picture is on the screen before it stops";
    s_desktop->Freeze(true);
    const OnAir on = FromThePortal();
    GoLive(on);
    GoOffAir(4s);
    s_desktop->Freeze(false);
    EXPECT_EQ(m_log.Count("OnSourceLost", castorn_notification::kSourceVideo), 0) << "a still screen is no lost source";
    const std::string file = m_server->Recordings().back();
    ExpectAsAsked(OnlyRecording(), on);
    const Track video = ExpectContinuousTracks(file, on.fps);
    EXPECT_GT(video.packets, std::size_t(on.fps * (m_onAirSeconds - 1)));
    const std::vector<Thumbnail> pictures = PicturesAfter(file, 25);
    ASSERT_FALSE(pictures.empty());
    const auto still = std::count_if(pictures.begin(), pictures.end(),
                                     [](const Thumbnail& picture) { return ShareOf(picture, kStillColour) > 0.9; });
    EXPECT_GT(std::size_t(still), pictures.size() * 9 / 10) << "the still picture is what is streamed";
}

TEST_F(PortalScreenPublishing, ARefusedChooserIsToldOnceAndLeavesBlack)
{
    s_desktop->RefuseChooser(true);
    const int calls = s_desktop->ChooserCalls();
    ASSERT_NO_FATAL_FAILURE(GoLive(FromThePortal()));
    const Json::Value lost = m_log.WaitFor("OnSourceLost", 10s, 0, castorn_notification::kSourceVideo);
    ASSERT_FALSE(lost.isNull());
    EXPECT_EQ(lost["source"].asString(), castorn_notification::kSourceVideo);
    EXPECT_EQ(lost["reason"].asString(), castorn_notification::kReasonDenied);
    ASSERT_NO_FATAL_FAILURE(GoOffAir(3s));
    EXPECT_EQ(s_desktop->ChooserCalls(), calls + 1) << "a refusal is not asked again while on air";
    EXPECT_EQ(m_log.Count("OnSourceLost", castorn_notification::kSourceVideo), 1);
    EXPECT_EQ(m_log.Count("OnPublishError"), 0) << "the stream goes on";
    const std::string file = m_server->Recordings().back();
    ExpectContinuousTracks(file, 25);
    const std::vector<double> brightness = FrameBrightness(file);
    ASSERT_FALSE(brightness.empty());
    EXPECT_LT(*std::max_element(brightness.begin(), brightness.end()), 24) << "black stands in for the screen";
    struct stat token {};
    EXPECT_NE(stat(TokenFile().c_str(), &token), 0) << "no token for a refused cast";
}

TEST_F(PortalScreenPublishing, ACastTheDesktopEndsIsLostAndComesBackWithoutAsking)
{
    ASSERT_NO_FATAL_FAILURE(GoLive(FromThePortal()));
    // Its first media in: the cast has started, and its token is kept.
    ASSERT_TRUE(WaitUntil([&] { return access(TokenFile().c_str(), R_OK) == 0; }));
    std::this_thread::sleep_for(1s);
    const int calls = s_desktop->ChooserCalls();
    s_desktop->RestartPortalBackend();
    const Json::Value lost = m_log.WaitFor("OnSourceLost", 10s, 0, castorn_notification::kSourceVideo);
    ASSERT_FALSE(lost.isNull()) << "the end of the cast is a lost source";
    EXPECT_FALSE(lost.isMember("reason")) << "the desktop ended it, the user did not refuse";
    ASSERT_FALSE(m_log.WaitFor("OnSourceBack", 30s, 0, castorn_notification::kSourceVideo).isNull())
        << "the cast is started again";
    ASSERT_NO_FATAL_FAILURE(GoOffAir(3s));
    EXPECT_EQ(s_desktop->ChooserCalls(), calls) << "with the token kept, the desktop does not ask again";
    const std::string file = m_server->Recordings().back();
    // The picture stops until the end of the cast is seen (a second without a frame),
    // black goes on from there, and the sound is whole.
    EXPECT_LT(ReadTrack(file, "v").longestGap, 1.6);
    EXPECT_LT(ReadTrack(file, "a").longestGap, kLongestGap);
    // The last two seconds are the desktop's picture again.
    const std::vector<Thumbnail> pictures = RgbThumbnails(file);
    ASSERT_GE(pictures.size(), 50u);
    const auto coloured = std::count_if(pictures.end() - 50, pictures.end(),
                                        [](const Thumbnail& picture) { return ShareOf(picture, kColour) > 0.6; });
    EXPECT_GT(coloured, 45);
}

}  // namespace castorn_test
