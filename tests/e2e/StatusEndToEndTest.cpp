// The real window with the real engine, loaded from beside this program as the
// program loads it, against a local nginx, a PulseAudio server and an Xvfb display:
// what the status and the level meter say about a real stream.
#include "support/ChildProcess.h"
#include "support/Command.h"
#include "support/LoopbackPort.h"
#include "support/NodeMediaServer.h"
#include "support/RootPaint.h"
#include "support/RtmpServer.h"
#include "support/ShapedNetwork.h"
#include "support/SoundServer.h"
#include "support/WaitUntil.h"
#include "support/WindowFixture.h"

#include "platform/DialogTemplate.h"
#include "settings/PublishAddress.h"
#include "settings/SettingsFile.h"
#include "window/LevelMeter.h"

#include <QApplication>
#include <QComboBox>
#include <QGuiApplication>
#include <QImage>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMessageBox>
#include <QPixmap>
#include <QPushButton>
#include <QRegularExpression>
#include <QTime>
#include <QScreen>
#include <QTimer>
#include <cstdlib>
#include <filesystem>

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

// A key pressed where the focus would be: what the widget leaves goes on to the window.
void Key(QWidget* target, int key)
{
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &press);
}

// Answers every message box that opens while it lives, as the operator would, and
// keeps what each asked.
class Operator {
public:
    explicit Operator(const char* answer) : m_answer(QString::fromUtf8(answer))
    {
        m_look.setInterval(20);
        QObject::connect(&m_look, &QTimer::timeout, [this] { Answer(); });
        m_look.start();
    }
    void WillAnswer(const char* answer) { m_answer = QString::fromUtf8(answer); }

    std::vector<QString> asked;
    QStringList buttons;  // of the last box

private:
    void Answer()
    {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box) return;
        asked.push_back(box->text());
        buttons.clear();
        for (QAbstractButton* button : box->buttons()) buttons << button->text();
        for (QAbstractButton* button : box->buttons())
            if (button->text() == m_answer) return button->click();
        box->done(-1);
    }

    QString m_answer;
    QTimer m_look;
};

std::uintmax_t RecordedBytes(const RtmpServer& server)
{
    const auto files = server.Recordings();
    return files.empty() ? 0 : std::filesystem::file_size(files.back());
}

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

    // What the X server shows of the video frame: the engine's pictures as the window
    // painted them while on air, whatever is left of them afterwards.
    QImage FrameOnScreen() const
    {
        return QGuiApplication::primaryScreen()->grabWindow(DialogItem(*window, IDC_PREVIEW_FRAME)->winId()).toImage();
    }

    bool FrameLooksBlack() const
    {
        const QImage shown = FrameOnScreen();
        constexpr int kDarkest = 16;
        for (int y = 0; y < shown.height(); y += 4)
            for (int x = 0; x < shown.width(); x += 4)
                if (qGray(shown.pixel(x, y)) > kDarkest) return false;
        return !shown.isNull();
    }

    // The share of the frame's pixels of about that colour (through the encoder's I420).
    double FrameShareOf(QRgb colour) const
    {
        const QImage shown = FrameOnScreen();
        constexpr int kConversionError = 32;
        int near = 0;
        int all = 0;
        for (int y = 0; y < shown.height(); y += 2)
            for (int x = 0; x < shown.width(); x += 2, ++all) {
                const QRgb pixel = shown.pixel(x, y);
                near += std::abs(qRed(pixel) - qRed(colour)) <= kConversionError &&
                                std::abs(qGreen(pixel) - qGreen(colour)) <= kConversionError &&
                                std::abs(qBlue(pixel) - qBlue(colour)) <= kConversionError
                            ? 1
                            : 0;
            }
        return all ? static_cast<double>(near) / all : 0;
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
    const RootPaint screen(std::getenv("DISPLAY"), 0xff8040);
    OpenWith({m_server->Address()});
    EXPECT_EQ(StatusText(), "未上麦");
    Click(IDC_ON_AIR);
    EXPECT_TRUE(
        WaitUntil([&] { return StatusText().startsWith("直播中 ") && StatusText().contains(" kbps"); }, kPromptly))
        << StatusText().toStdString();
    const QString clock = StatusText().section('\n', 0, 0);
    EXPECT_TRUE(WaitUntil([&] { return StatusText().section('\n', 0, 0) > clock; }, kPromptly))
        << "the time on air advances: " << StatusText().toStdString();
    // The 16:9 screen is mostly the painted root, with the window in a corner and bars
    // above and below it in the frame.
    EXPECT_TRUE(WaitUntil([&] { return FrameShareOf(qRgb(0xff, 0x80, 0x40)) > 0.4; }, kPromptly))
        << "the preview shows the screen: " << FrameShareOf(qRgb(0xff, 0x80, 0x40));
    EXPECT_GT(FrameShareOf(qRgb(0, 0, 0)), 0.1) << "between black bars";
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
    const auto live = std::chrono::steady_clock::now();
    m_server->Stop();
    EXPECT_TRUE(StatusReaches("重新连接中", kEventually));
    m_server->Start();
    EXPECT_TRUE(WaitUntil([&] { return StatusText().startsWith("直播中"); }, kEventually))
        << StatusText().toStdString();
    // The clock goes on from the first time live, and the reconnects are counted.
    const auto sinceLive = std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - live);
    const QTime shown = QTime::fromString(StatusText().section('\n', 0, 0).section(' ', 1), "hh:mm:ss");
    ASSERT_TRUE(shown.isValid()) << StatusText().toStdString();
    EXPECT_GE(QTime(0, 0).secsTo(shown), sinceLive.count() - 1) << StatusText().toStdString();
    EXPECT_TRUE(StatusText().section('\n', 1, 1).contains(QRegularExpression("^已重连 [1-9][0-9]* 次$")))
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

TEST_F(StatusEndToEnd, ClosingWhileOnAirAsksFirstAndOnlyTheOperatorsYesEndsTheBroadcast)
{
    OpenWith({m_server->Address()});
    Click(IDC_ON_AIR);
    ASSERT_TRUE(StatusReaches("直播中", kPromptly));
    Operator answers("取消");
    Key(List(IDC_VIDEO_DEVICE), Qt::Key_Escape);  // meant to leave the list
    ASSERT_EQ(answers.asked, std::vector<QString>{"正在直播，确定要下麦并退出吗？"});
    EXPECT_EQ(answers.buttons, QStringList({"确定", "取消"}));
    EXPECT_TRUE(window->isVisible());
    window->close();  // the close box and the window manager alike
    EXPECT_EQ(answers.asked.size(), 2u);
    EXPECT_TRUE(window->isVisible());

    ASSERT_TRUE(WaitUntil([&] { return RecordedBytes(*m_server) > 0; }, kPromptly));
    const auto recorded = RecordedBytes(*m_server);
    EXPECT_TRUE(WaitUntil([&] { return RecordedBytes(*m_server) > recorded; }, kPromptly)) << "the server records on";
    EXPECT_TRUE(StatusText().startsWith("直播中")) << StatusText().toStdString();

    answers.WillAnswer("确定");
    window->close();
    EXPECT_EQ(answers.asked.size(), 3u);
    EXPECT_FALSE(window->isVisible());
    window->PostNcDestroy();  // as the program does once the window has closed
    // A live recording grows with every frame; one that ended stays as it is.
    EXPECT_TRUE(WaitUntil(
        [&] {
            const auto before = RecordedBytes(*m_server);
            WaitUntil([] { return false; }, 700ms);
            return RecordedBytes(*m_server) == before;
        },
        kPromptly))
        << "the broadcast ended with the window";
    EXPECT_EQ(m_server->Recordings().size(), 1u);
}

TEST_F(StatusEndToEnd, OffAirClosingAsksNothingAndEnterInThePlayerBoxDoesNotGoOnAir)
{
    OpenWith({m_server->Address()});
    Operator answers("取消");
    QComboBox* players = List(IDC_PLAYER);
    players->setFocus();
    players->lineEdit()->setText("ffplay");
    Key(players, Qt::Key_Return);
    EXPECT_EQ(ButtonPattern(), "1100") << "still off air";
    EXPECT_EQ(players->currentText(), "ffplay");
    EXPECT_EQ(StatusText(), "未上麦");

    Key(List(IDC_VIDEO_DEVICE), Qt::Key_Escape);
    EXPECT_FALSE(window->isVisible());
    window->show();
    window->close();
    EXPECT_FALSE(window->isVisible());
    EXPECT_TRUE(answers.asked.empty());
    WaitUntil([] { return false; }, 500ms);
    EXPECT_TRUE(m_server->Publishes().empty());
}

// What a newcomer types by mistake: refused by the engine before anything is sent, and
// named in the status at once.
TEST_F(StatusEndToEnd, RefusedValuesAndAddressesAreNamedAtOnceAndTheServerGetsNothing)
{
    const std::string server = m_server->Address();
    struct Mistake {
        std::string address;
        std::int32_t PublishSettings::*field;
        std::int32_t value;
        const char* status;
    };
    const Mistake mistakes[] = {
        {server + "/live/s", &PublishSettings::m_iVdWidth, 0, "推流失败：参数无效\n宽度 0"},
        {server + "/live/s", &PublishSettings::m_iVdHeight, 0, "推流失败：参数无效\n高度 0"},
        {server + "/live/s", &PublishSettings::m_iVdFps, -5, "推流失败：参数无效\n帧率 -5"},
        {server + "/live/s", &PublishSettings::m_iVdInterval, 0, "推流失败：参数无效\n关键帧间隔 0"},
        {server + "/live/s", &PublishSettings::m_iVdBitRate, 0, "推流失败：参数无效\n视频码率 0"},
        {server + "/live/s", &PublishSettings::m_iAdSampleRate, 0, "推流失败：参数无效\n采样率 0"},
        {server + "/live/s", &PublishSettings::m_iAdChannels, 0, "推流失败：参数无效\n通道数 0"},
        {server + "/live/s", &PublishSettings::m_iAdBitRate, 400, "推流失败：参数无效\n音频码率 400"},
        {server + "/live", nullptr, 0, "推流失败：地址缺少流名称"},
        {server + "/live/", nullptr, 0, "推流失败：地址缺少流名称"},
        {"rtmp:/127.0.0.1:" + std::to_string(m_server->Port()) + "/live/x", nullptr, 0, "推流失败：地址格式不对"},
        {"srt://127.0.0.1:" + std::to_string(m_server->Port()) + "/live/x", nullptr, 0, "推流失败：地址格式不对"},
    };
    for (const Mistake& mistake : mistakes) {
        SCOPED_TRACE(mistake.status);
        PublishSettings saved;  // as the settings dialog saves what was typed
        SplitPublishAddress(mistake.address, saved);
        if (mistake.field) saved.*mistake.field = mistake.value;
        ASSERT_TRUE(::WriteSettingsFile(kSettingsPath, saved));
        Open();
        window->show();
        Click(IDC_ON_AIR);
        const QString expected = QString::fromUtf8(mistake.status);
        EXPECT_TRUE(WaitUntil([&] { return StatusText() == expected; }, 1s * kSlowness)) << StatusText().toStdString();
        EXPECT_FALSE(DialogItem(*window, IDC_STATUS)->toolTip().isEmpty()) << "the engine's own words";
        EXPECT_EQ(ButtonPattern(), "0011") << "the operator ends the attempt";
        Click(IDC_OFF_AIR);
        EXPECT_EQ(StatusText(), "未上麦");
        window->PostNcDestroy();
        window.reset();
    }
    WaitUntil([] { return false; }, 1s);
    EXPECT_TRUE(m_server->Publishes().empty());
    EXPECT_TRUE(m_server->Recordings().empty());
}

TEST_F(StatusEndToEnd, TheChosenDevicesReturnAtTheNextStartAndALaterPlayerIsListedWhenItsBoxOpens)
{
    OpenWith({m_server->Address()});
    QComboBox* audio = List(IDC_AUDIO_DEVICE);
    ASSERT_GE(audio->count(), 2) << "the sound server's sources";
    audio->setCurrentIndex(audio->count() - 2);
    Key(audio, Qt::Key_Down);  // the operator's choice: the last entry
    const QString chosen = audio->currentText();
    ASSERT_NE(audio->currentIndex(), 0) << "not what a start selects anyway";

    QComboBox* players = List(IDC_PLAYER);
    ASSERT_EQ(players->findText("LaterPlayer"), -1);
    TonePlayer later("LaterPlayer");
    // The sound server lists a stream a moment after it starts: the box is opened again.
    EXPECT_TRUE(WaitUntil(
        [&] {
            Key(players, Qt::Key_F4);
            players->hidePopup();
            return players->findText("LaterPlayer") >= 0;
        },
        kPromptly));
    players->lineEdit()->setText("LaterPlayer");
    Key(players, Qt::Key_Return);

    window->PostNcDestroy();
    window.reset();
    Open();
    EXPECT_EQ(List(IDC_AUDIO_DEVICE)->currentText(), chosen);
    EXPECT_EQ(List(IDC_PLAYER)->currentText(), "LaterPlayer");
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
