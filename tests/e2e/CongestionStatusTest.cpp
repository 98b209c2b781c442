// The window's status on a slow uplink: the real engine, nginx, PulseAudio and Xvfb, all
// in a network namespace of the test's own whose loopback is cut for a while. Moving
// noise on the screen fills the rate set.
#include "support/ChildProcess.h"
#include "support/Command.h"
#include "support/RtmpServer.h"
#include "support/ShapedNetwork.h"
#include "support/SoundServer.h"
#include "support/WaitUntil.h"
#include "support/WindowFixture.h"

#include "platform/DialogTemplate.h"

#include <QComboBox>
#include <QPixmap>
#include <cstdlib>

using namespace std::chrono_literals;
using namespace test_support;

namespace {

std::string g_whyUnshaped;
// Before main starts Xvfb: the display, the servers and the engine all live in it.
const bool g_shaped = ShapedNetwork::Enter(g_whyUnshaped);

#ifdef TAVISK_SANITIZE_BUILD
constexpr int kSlowness = 3;
#else
constexpr int kSlowness = 1;
#endif

}  // namespace

class CongestionStatus : public WindowTest {
protected:
    void SetUp() override
    {
        if (!g_shaped) GTEST_SKIP() << g_whyUnshaped;
        if (!std::getenv("DISPLAY") || !Installed("nginx") || !Installed("pulseaudio") || !Installed("gst-launch-1.0"))
            GTEST_SKIP() << "needs Xvfb, nginx, pulseaudio and gst-launch-1.0";
        useRealEngine = true;
        WindowTest::SetUp();
        m_sound = std::make_unique<SoundServer>(SoundServer::Microphone::SinkMonitor);
        m_server = std::make_unique<RtmpServer>();
        m_noise = std::make_unique<ChildProcess>(
            std::vector<std::string>{"gst-launch-1.0", "-q", "videotestsrc", "pattern=snow", "is-live=true", "!",
                                     "video/x-raw,width=640,height=480,framerate=15/1", "!", "ximagesink"});
    }

    void TearDown() override
    {
        if (!useRealEngine) return;
        WindowTest::TearDown();
        m_noise.reset();
        m_server.reset();
        m_sound.reset();
    }

    bool StatusReaches(const QString& start, std::chrono::milliseconds limit)
    {
        const bool reached = WaitUntil([&] { return StatusText().startsWith(start); }, limit);
        if (!reached) ADD_FAILURE() << "status: " << StatusText().toStdString();
        return reached;
    }

    std::unique_ptr<SoundServer> m_sound;
    std::unique_ptr<RtmpServer> m_server;
    std::unique_ptr<ChildProcess> m_noise;
};

TEST_F(CongestionStatus, CongestedWithTheFiguresDuringTheLimitAndLiveAgainAfter)
{
    std::string file = Replace(kDefaultSettingsFile, "rtmp://127.0.0.1", m_server->Address());
    file = Replace(file, "m_iVdBitRate=160", "m_iVdBitRate=800");
    WriteSettingsFile(Replace(file, "m_iVdFps=10", "m_iVdFps=15"));
    Open();
    window->show();
    Click(IDC_ON_AIR);
    ASSERT_TRUE(StatusReaches("直播中", 3s * kSlowness));
    ShapedNetwork::Limit(150);
    EXPECT_TRUE(StatusReaches("网络拥塞", 10s * kSlowness));
    EXPECT_TRUE(StatusText().contains(" / 800 kbps")) << "the rate sent against the one set";
    EXPECT_TRUE(StatusText().contains("丢帧 ")) << StatusText().toStdString();
    EXPECT_TRUE(StatusText().contains("积压 ")) << StatusText().toStdString();
    WaitUntil([] { return false; }, 4s);
    if (const char* shots = std::getenv("TAVISK_SCREENSHOT_DIR"))
        window->grab().save(QString::fromUtf8(shots) + "/congested.png");
    ShapedNetwork::Unlimit();
    EXPECT_TRUE(StatusReaches("直播中", 30s * kSlowness)) << "the rate set is reached again";
    Click(IDC_OFF_AIR);
    EXPECT_EQ(StatusText(), "未上麦");
    EXPECT_EQ(m_server->Recordings().size(), 1u) << "one publication throughout";
}
