#include "support/WindowFixture.h"

#include "platform/DialogTemplate.h"
#include "window/LevelMeter.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QFontMetrics>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <thread>

namespace {

QString ToolTip(const QWidget& window)
{
    return DialogItem(window, IDC_STATUS)->toolTip();
}

}  // namespace

using StatusControls = WindowTest;

TEST_F(StatusControls, SitInTheFreeSpaceWithoutTouchingATemplateControl)
{
    Open();
    const QWidget* status = DialogItem(*window, IDC_STATUS);
    const QWidget* meter = DialogItem(*window, IDC_LEVEL_METER);
    ASSERT_NE(status, nullptr);
    ASSERT_NE(meter, nullptr);
    EXPECT_TRUE(window->rect().contains(status->geometry()));
    EXPECT_TRUE(window->rect().contains(meter->geometry()));
    for (int id : {IDC_ON_AIR, IDC_OFF_AIR, IDC_PREVIEW_FRAME, IDC_SETTINGS, IDC_VIDEO_DEVICE, IDC_PLAYER,
                   IDC_BACKGROUND_AUDIO, IDC_AUDIO_DEVICE}) {
        EXPECT_FALSE(status->geometry().intersects(DialogItem(*window, id)->geometry())) << id;
        EXPECT_FALSE(meter->geometry().intersects(DialogItem(*window, id)->geometry())) << id;
    }
    EXPECT_GT(status->geometry().top(), DialogItem(*window, IDC_OFF_AIR)->geometry().bottom()) << "under 下麦";
    EXPECT_GT(meter->geometry().left(), DialogItem(*window, IDC_PREVIEW_FRAME)->geometry().right())
        << "beside the video";
    EXPECT_FALSE(status->isHidden());
    EXPECT_EQ(StatusText(), "未上麦");
    EXPECT_EQ(Meter()->value(), 0);
}

TEST_F(StatusControls, FollowTheEngineFromItsThreadsThroughEveryNotification)
{
    GoOnAir();
    EXPECT_EQ(StatusText(), "已上麦");
    NotifyFromEngineThread(R"({"cmd":"OnConnecting","params":{"address":"rtmp://127.0.0.1/live","attempt":1}})");
    EXPECT_EQ(StatusText(), "正在连接…");
    NotifyFromEngineThread(
        R"({"cmd":"OnPublishError","params":{"reason":"refused","message":"Connection refused","final":false}})");
    NotifyFromEngineThread(
        R"({"cmd":"OnReconnecting","params":{"attempt":2,"delayMs":60000,"reason":"refused","message":"Connection refused"}})");
    EXPECT_EQ(StatusText(), "推流失败：连接被拒绝\n60 秒后重试");
    EXPECT_EQ(ToolTip(*window), "Connection refused");
    NotifyFromEngineThread(R"({"cmd":"OnConnected","params":{"address":"rtmp://127.0.0.1/live"}})");
    NotifyFromEngineThread(
        R"({"cmd":"OnStatistics","params":{"liveMs":61000,"kbps":190,"framesSent":610,"framesDropped":0,"bytesQueued":0}})");
    EXPECT_EQ(StatusText(), "直播中 00:01:01\n190 kbps");
    NotifyFromEngineThread(R"({"cmd":"OnAudioPercent","params":{"percent":70}})");
    EXPECT_EQ(Meter()->value(), 70);
    EXPECT_EQ(Meter()->Peak(), 70);
    NotifyFromEngineThread(R"({"cmd":"OnSourceLost","params":{"source":"audio","name":"Mic","message":"gone"}})");
    EXPECT_TRUE(StatusText().endsWith("\n麦克风已断开"));
    NotifyFromEngineThread(R"({"cmd":"OnSourceBack","params":{"source":"audio","name":"Mic"}})");
    EXPECT_TRUE(StatusText().endsWith("\n麦克风已恢复"));
    NotifyFromEngineThread(R"({"cmd":"OnDisconnected","params":{"reason":"lost","message":"Broken pipe"}})");
    NotifyFromEngineThread(
        R"({"cmd":"OnReconnecting","params":{"attempt":1,"delayMs":60000,"reason":"lost","message":"Broken pipe"}})");
    EXPECT_TRUE(StatusText().startsWith("重新连接中\n连接中断\n第 1 次，60 秒后重试"));
    NotifyFromEngineThread(
        R"({"cmd":"OnPublishError","params":{"reason":"rejected","message":"NetStream.Publish.BadName","final":true}})");
    EXPECT_TRUE(StatusText().startsWith("推流失败：服务器拒绝推流"));
    EXPECT_EQ(ToolTip(*window), "NetStream.Publish.BadName");
    Click(IDC_OFF_AIR);
    EXPECT_EQ(StatusText(), "未上麦");
    EXPECT_EQ(ToolTip(*window), "");
    EXPECT_EQ(Meter()->value(), 0) << "at rest off air";
    NotifyFromEngineThread(R"({"cmd":"OnDisconnected","params":{"reason":"stopped","message":""}})");
    NotifyFromEngineThread(R"({"cmd":"OnPublishStopped","params":{}})");
    NotifyFromEngineThread(R"({"cmd":"OnAudioPercent","params":{"percent":70}})");
    EXPECT_EQ(StatusText(), "未上麦");
    EXPECT_EQ(Meter()->value(), 0);
    EXPECT_EQ(ButtonPattern(), "1100");
    EXPECT_TRUE(boxes.empty()) << "failures are the status's to say";
}

TEST_F(StatusControls, MalformedNotificationsChangeNothing)
{
    GoOnAir();
    NotifyFromEngineThread(R"({"cmd":"OnConnected","params":{}})");
    const QString live = StatusText();
    for (const char* text : {
             R"({"cmd":"OnPublishError","params":{"reason":5,"final":true}})",
             R"({"cmd":"OnReconnecting","params":{"delayMs":"soon"}})",
             R"({"cmd":"OnAudioPercent","params":{"percent":"loud"}})",
             R"({"cmd":"OnSourceLost","params":{"source":"screen"}})",
             R"({"cmd":"onconnecting","params":{}})",
             R"({"cmd":"OnDisconnected","params":null})",
             "{",
         }) {
        NotifyFromEngineThread(text);
        EXPECT_EQ(StatusText(), live) << text;
        EXPECT_EQ(Meter()->value(), 0) << text;
    }
}

TEST_F(StatusControls, AFailureFromInsideStartPublishIsNotCoveredByTheOnAirText)
{
    RecordingEngine::next.startNotifications = {
        R"({"cmd":"OnPublishError","params":{"reason":"unresolved","message":"no such host","final":true}})"};
    GoOnAir();
    QCoreApplication::processEvents();
    EXPECT_EQ(StatusText(), "推流失败：找不到服务器");
    EXPECT_EQ(ButtonPattern(), "0011") << "the buttons keep the operator's action";
}

TEST_F(StatusControls, TheKeyNeverShowsInTheToolTip)
{
    GoOnAir();
    NotifyFromEngineThread(
        R"({"cmd":"OnPublishError","params":{"reason":"rejected","message":"rtmp://127.0.0.1/live?qex/s refused","final":true}})");
    EXPECT_EQ(ToolTip(*window), "rtmp://127.0.0.1/live?***/s refused");
}

TEST_F(StatusControls, TheMeterFallsToRestWhenTheLevelStops)
{
    GoOnAir();
    NotifyFromEngineThread(R"({"cmd":"OnAudioPercent","params":{"percent":100}})");
    EXPECT_EQ(Meter()->value(), 100);
    EXPECT_TRUE(WaitUntil([&] { return Meter()->value() == 0 && Meter()->Peak() == 0; }, std::chrono::seconds(5)));
}

TEST_F(StatusControls, TheMeterShowsAsTheSettingsFileSays)
{
    WriteSettingsFile(Replace(kDefaultSettingsFile, "m_bShowSpectrum=True", "m_bShowSpectrum=False"));
    Open();
    EXPECT_TRUE(Meter()->isHidden());
    Click(IDC_ON_AIR);
    EXPECT_TRUE(Meter()->isHidden());
    Click(IDC_OFF_AIR);
    WriteSettingsFile(kDefaultSettingsFile);
    Click(IDC_ON_AIR);
    EXPECT_FALSE(Meter()->isHidden()) << "read again at each go-on-air";
    window->PostNcDestroy();
    WriteSettingsFile(Replace(kDefaultSettingsFile, "m_bShowSpectrum=True\n", ""));
    Open();
    EXPECT_FALSE(Meter()->isHidden()) << "shown by default";
}

TEST_F(StatusControls, GoingOffAirLeavesTheVideoFrameBlack)
{
    GoOnAir();
    Click(IDC_OFF_AIR);
    QWidget* frame = DialogItem(*window, IDC_PREVIEW_FRAME);
    const QImage picture = frame->grab().toImage();
    EXPECT_EQ(picture.pixelColor(picture.width() / 2, picture.height() / 2), QColor(Qt::black));
}

TEST_F(StatusControls, ALongDeviceNameShowsItsBeginning)
{
    RecordingEngine::next.video = {u"Screen :0.0 (1280x800) with a name far longer than the field"};
    RecordingEngine::next.audio = {u"Monitor of Built-in Audio Analog Stereo, the long way round"};
    RecordingEngine::next.reply = R"({"data":{"player":["A player whose name goes on and on and on"]}})";
    Open();
    for (int id : {IDC_VIDEO_DEVICE, IDC_AUDIO_DEVICE, IDC_PLAYER}) {
        const QLineEdit* edit = List(id)->lineEdit();
        EXPECT_GT(edit->fontMetrics().horizontalAdvance(edit->text()), edit->width()) << id;
        EXPECT_EQ(edit->cursorPosition(), 0) << id;
    }
}

TEST_F(StatusControls, EveryLineFitsItsColumnInASmallerFontIfNeedBe)
{
    GoOnAir();
    const QLabel* status = DialogItemAs<QLabel>(*window, IDC_STATUS);
    EXPECT_EQ(status->font(), window->font()) << "a short text keeps the window's font";
    NotifyFromEngineThread(R"({"cmd":"OnPublishError","params":{"reason":"rejected","message":"m","final":false}})");
    NotifyFromEngineThread(R"({"cmd":"OnReconnecting","params":{"attempt":12,"delayMs":30000,"reason":"rejected"}})");
    ASSERT_TRUE(StatusText().startsWith("推流失败：服务器拒绝推流\n"));
    EXPECT_GT(QFontMetrics(window->font()).horizontalAdvance("推流失败：服务器拒绝推流"),
              status->contentsRect().width())
        << "too long for the column in the window's font";
    EXPECT_LT(status->font().pointSizeF(), window->font().pointSizeF());
    for (const QString& line : StatusText().split('\n'))
        EXPECT_LE(QFontMetricsF(status->font()).horizontalAdvance(line), status->contentsRect().width())
            << line.toStdString();
}
