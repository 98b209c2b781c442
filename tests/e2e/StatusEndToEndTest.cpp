// The real window with the real engine, loaded from beside this program as the
// program loads it, against a local nginx, a PulseAudio server and an Xvfb display:
// what the status and the level meter say about a real stream.
#include "support/ChildProcess.h"
#include "support/Command.h"
#include "support/LoopbackPort.h"
#include "support/NodeMediaServer.h"
#include "support/RtmpServer.h"
#include "support/ShapedNetwork.h"
#include "support/SoundServer.h"
#include "support/WaitUntil.h"
#include "support/WindowFixture.h"

#include "platform/DialogTemplate.h"
#include "window/LevelMeter.h"

#include <QComboBox>
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QScreen>
#include <cstdlib>

using namespace std::chrono_literals;
using namespace test_support;

namespace {

std::string g_whyUnshaped;
// Before main starts Xvfb: where it can be made, the display, the servers and the engine
// all live in a network namespace of this process's own, whose loopback a test may slow.
const bool g_shaped = ShapedNetwork::Enter(g_whyUnshaped);

#ifdef TAVISK_SANITIZE_BUILD
constexpr int kSlowness = 3;  // everything, the engine included, runs a few times slower
#else
constexpr int kSlowness = 1;
#endif
// What the operator is promised after a click.
constexpr auto kPromptly = 3s * kSlowness;
// For what takes the engine's own retry delays.
constexpr auto kEventually = 20s * kSlowness;

struct Publishing {
    std::string server;
    std::string application = "live";
    bool showSpectrum = true;
    int kbps = 160;
    int fps = 10;
};

std::string SettingsFile(const Publishing& publishing)
{
    std::string file = Replace(kDefaultSettingsFile, "rtmp://127.0.0.1", publishing.server);
    file = Replace(file, "m_strPublishRoomInfo=live", "m_strPublishRoomInfo=" + publishing.application);
    file = Replace(file, "m_iVdBitRate=160", "m_iVdBitRate=" + std::to_string(publishing.kbps));
    file = Replace(file, "m_iVdFps=10", "m_iVdFps=" + std::to_string(publishing.fps));
    if (!publishing.showSpectrum) file = Replace(file, "m_bShowSpectrum=True", "m_bShowSpectrum=False");
    return file;
}

// A TLS server whose certificate nobody trusts; it speaks no RTMP, which the engine
// never gets to see.
class UntrustedTlsServer {
public:
    UntrustedTlsServer()
        : m_port(FreeLoopbackPort()),
          m_process({"openssl", "s_server", "-quiet", "-accept", std::to_string(m_port), "-cert",
                     m_certificates.File("self.crt"), "-key", m_certificates.File("self.key")})
    {
        WaitUntil([this] { return LoopbackListening(m_port); });
    }
    std::string Address() const { return "rtmps://127.0.0.1:" + std::to_string(m_port); }

private:
    TestCertificates m_certificates;
    int m_port;
    ChildProcess m_process;
};

}  // namespace

class StatusEndToEnd : public WindowTest {
protected:
    void SetUp() override
    {
        if (!std::getenv("DISPLAY") || !Installed("nginx") || !Installed("pulseaudio") || !Installed("gst-launch-1.0"))
            GTEST_SKIP() << "needs Xvfb, nginx, pulseaudio and gst-launch-1.0";
        useRealEngine = true;
        WindowTest::SetUp();
        m_sound = std::make_unique<SoundServer>(SoundServer::Microphone::SinkMonitor);
        m_server = std::make_unique<RtmpServer>();
    }

    void TearDown() override
    {
        if (!useRealEngine) return;  // skipped before anything was set up
        WindowTest::TearDown();      // the engine goes before its servers
        m_server.reset();
        m_sound.reset();
    }

    // The window on the display, with the microphone that the tone plays into.
    void OpenWith(const Publishing& publishing)
    {
        WriteSettingsFile(SettingsFile(publishing));
        Open();
        window->show();
        QComboBox* audio = DialogItemAs<QComboBox>(*window, IDC_AUDIO_DEVICE);
        const int microphone = audio->findText("FakeMicSink", Qt::MatchContains);
        ASSERT_GE(microphone, 0) << "the sound server's sources are listed";
        audio->setCurrentIndex(microphone);
    }

    // What the X server holds in the video frame's own window: the engine's pictures
    // while on air, whatever is left of them afterwards.
    bool FrameLooksBlack() const
    {
        const QImage shown =
            QGuiApplication::primaryScreen()->grabWindow(DialogItem(*window, IDC_PREVIEW_FRAME)->winId()).toImage();
        constexpr int kDarkest = 16;
        for (int y = 0; y < shown.height(); y += 4)
            for (int x = 0; x < shown.width(); x += 4)
                if (qGray(shown.pixel(x, y)) > kDarkest) return false;
        return !shown.isNull();
    }

    bool StatusReaches(const QString& part, std::chrono::milliseconds limit)
    {
        const bool reached = WaitUntil([&] { return StatusText().contains(part); }, limit);
        if (!reached) ADD_FAILURE() << "status: " << StatusText().toStdString();
        return reached;
    }

    std::unique_ptr<SoundServer> m_sound;
    std::unique_ptr<RtmpServer> m_server;
};

TEST_F(StatusEndToEnd, LiveWithTheBitrateSoonAfterTheClickThenOffAir)
{
    OpenWith({m_server->Address()});
    EXPECT_EQ(StatusText(), "未上麦");
    Click(IDC_ON_AIR);
    EXPECT_TRUE(
        WaitUntil([&] { return StatusText().startsWith("直播中 ") && StatusText().contains(" kbps"); }, kPromptly))
        << StatusText().toStdString();
    const QString clock = StatusText().section('\n', 0, 0);
    EXPECT_TRUE(WaitUntil([&] { return StatusText().section('\n', 0, 0) > clock; }, kPromptly))
        << "the time on air advances: " << StatusText().toStdString();
    EXPECT_TRUE(WaitUntil([&] { return !FrameLooksBlack(); }, kPromptly)) << "the preview shows the screen";
    Click(IDC_OFF_AIR);
    EXPECT_EQ(StatusText(), "未上麦");
    EXPECT_TRUE(WaitUntil([&] { return FrameLooksBlack(); }, kPromptly)) << "no last picture left frozen";
    WaitUntil([] { return false; }, 1s);
    EXPECT_EQ(StatusText(), "未上麦") << "what the engine says while stopping changes nothing";
    EXPECT_TRUE(FrameLooksBlack());
}

TEST_F(StatusEndToEnd, NothingListeningIsARefusedConnection)
{
    OpenWith({"rtmp://127.0.0.1:" + std::to_string(test_support::FreeLoopbackPort())});
    Click(IDC_ON_AIR);
    EXPECT_TRUE(StatusReaches("推流失败：连接被拒绝", kPromptly));
    EXPECT_FALSE(DialogItem(*window, IDC_STATUS)->toolTip().isEmpty()) << "the engine's own words";
    EXPECT_TRUE(boxes.empty());
    Click(IDC_OFF_AIR);
    EXPECT_EQ(StatusText(), "未上麦");
}

TEST_F(StatusEndToEnd, AnApplicationTheServerDoesNotHaveIsARefusedPublish)
{
    OpenWith({.server = m_server->Address(), .application = "nosuchapp"});
    Click(IDC_ON_AIR);
    EXPECT_TRUE(StatusReaches("推流失败：服务器拒绝推流", kPromptly));
    Click(IDC_OFF_AIR);
}

TEST_F(StatusEndToEnd, AnUntrustedCertificateIsAnInvalidCertificate)
{
    if (!Installed("openssl")) GTEST_SKIP() << "needs openssl";
    UntrustedTlsServer server;
    OpenWith({server.Address()});
    Click(IDC_ON_AIR);
    EXPECT_TRUE(StatusReaches("推流失败：证书无效", kPromptly));
    Click(IDC_OFF_AIR);
}

TEST_F(StatusEndToEnd, ReconnectingWhileTheServerIsAwayAndLiveAgainOnItsReturn)
{
    OpenWith({m_server->Address()});
    Click(IDC_ON_AIR);
    ASSERT_TRUE(StatusReaches("直播中", kPromptly));
    m_server->Stop();
    EXPECT_TRUE(StatusReaches("重新连接中", kEventually));
    m_server->Start();
    EXPECT_TRUE(WaitUntil([&] { return StatusText().startsWith("直播中"); }, kEventually))
        << StatusText().toStdString();
    Click(IDC_OFF_AIR);
    EXPECT_EQ(StatusText(), "未上麦");
}

TEST_F(StatusEndToEnd, TheMeterMovesWithTheToneAndRestsOffAir)
{
    OpenWith({m_server->Address()});
    auto tone = std::make_unique<TonePlayer>("Microphone", "mic_sink");
    EXPECT_EQ(Meter()->value(), 0);
    Click(IDC_ON_AIR);
    EXPECT_TRUE(WaitUntil([&] { return Meter()->value() > 50; }, kEventually)) << "a tone at -2 dB";
    EXPECT_FALSE(Meter()->isHidden());
    tone.reset();
    EXPECT_TRUE(WaitUntil([&] { return Meter()->value() == 0; }, kEventually)) << "silence rests the meter";
    tone = std::make_unique<TonePlayer>("Microphone", "mic_sink");
    EXPECT_TRUE(WaitUntil([&] { return Meter()->value() > 50; }, kEventually));
    Click(IDC_OFF_AIR);
    EXPECT_EQ(Meter()->value(), 0);
    WaitUntil([] { return false; }, 1s);
    EXPECT_EQ(Meter()->value(), 0) << "at rest off air, whatever the microphone hears";
}

TEST_F(StatusEndToEnd, TheMeterIsHiddenWhenTheSettingsSaySo)
{
    OpenWith({.server = m_server->Address(), .showSpectrum = false});
    EXPECT_TRUE(Meter()->isHidden());
    Click(IDC_ON_AIR);
    EXPECT_TRUE(StatusReaches("直播中", kPromptly));
    EXPECT_TRUE(Meter()->isHidden());
    Click(IDC_OFF_AIR);
}

TEST_F(StatusEndToEnd, TheMicrophoneLostAndBackIsShownWhileTheStreamStaysLive)
{
    OpenWith({m_server->Address()});
    Click(IDC_ON_AIR);
    ASSERT_TRUE(StatusReaches("直播中", kPromptly));
    m_sound->Stop();
    EXPECT_TRUE(StatusReaches("麦克风已断开", kPromptly));
    EXPECT_TRUE(StatusText().startsWith("直播中")) << "the stream's own state stays: " << StatusText().toStdString();
    m_sound->Start();
    EXPECT_TRUE(StatusReaches("麦克风已恢复", kEventually));
    EXPECT_TRUE(StatusText().startsWith("直播中")) << StatusText().toStdString();
    Click(IDC_OFF_AIR);
    EXPECT_EQ(StatusText(), "未上麦");
    EXPECT_EQ(m_server->Recordings().size(), 1u) << "one publication throughout";
}

TEST_F(StatusEndToEnd, ASoundServerGoneBeforeGoingOnAirIsNamedTheStreamStartsAndItsSourcesReturn)
{
    OpenWith({m_server->Address()});
    m_sound->Stop();
    Click(IDC_ON_AIR);
    EXPECT_TRUE(StatusReaches("麦克风已断开", kPromptly));
    EXPECT_TRUE(StatusReaches("背景音已断开", kPromptly));
    EXPECT_TRUE(StatusReaches("直播中", kPromptly));
    m_sound->Start();
    EXPECT_TRUE(StatusReaches("麦克风已恢复", kEventually));
    EXPECT_TRUE(StatusReaches("背景音已恢复", kEventually));
    Click(IDC_OFF_AIR);
    EXPECT_EQ(StatusText(), "未上麦");
}

TEST_F(StatusEndToEnd, CongestedWithTheFiguresDuringALimitAndLiveAgainAfter)
{
    if (!g_shaped) GTEST_SKIP() << g_whyUnshaped;
    // Moving noise on the screen fills the rate set.
    ChildProcess noise({"gst-launch-1.0", "-q", "videotestsrc", "pattern=snow", "is-live=true", "!",
                        "video/x-raw,width=640,height=480,framerate=15/1", "!", "ximagesink"});
    OpenWith({.server = m_server->Address(), .kbps = 800, .fps = 15});
    Click(IDC_ON_AIR);
    ASSERT_TRUE(StatusReaches("直播中", kPromptly));
    ShapedNetwork::Limit(150);
    EXPECT_TRUE(WaitUntil([&] { return StatusText().startsWith("网络拥塞"); }, 10s * kSlowness))
        << StatusText().toStdString();
    EXPECT_TRUE(StatusText().contains(" / 800 kbps")) << "the rate sent against the one set";
    EXPECT_TRUE(StatusText().contains("丢帧 ")) << StatusText().toStdString();
    EXPECT_TRUE(StatusText().contains("积压 ")) << StatusText().toStdString();
    WaitUntil([] { return false; }, 4s);
    if (const char* shots = std::getenv("TAVISK_SCREENSHOT_DIR"))
        window->grab().save(QString::fromUtf8(shots) + "/congested.png");
    ShapedNetwork::Unlimit();
    EXPECT_TRUE(WaitUntil([&] { return StatusText().startsWith("直播中"); }, 30s * kSlowness))
        << "the rate set is reached again: " << StatusText().toStdString();
    Click(IDC_OFF_AIR);
    EXPECT_EQ(StatusText(), "未上麦");
    EXPECT_EQ(m_server->Recordings().size(), 1u) << "one publication throughout";
}
