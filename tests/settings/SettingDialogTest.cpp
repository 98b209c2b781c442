#include "settings/SettingDialog.h"

#include "support/Files.h"
#include "platform/DialogTemplate.h"
#include "res/Resources.h"
#include "res/SettingDialogTemplate.h"
#include "settings/PublishAddress.h"
#include "settings/SettingsFile.h"
#include "settings/StreamParameters.h"
#include "support/WindowFixture.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QTimer>
#include <algorithm>
#include <functional>

namespace {

// Edit controls with the defaults they show, in the order the dialog fills them.
const std::vector<std::pair<int, const char*>> kDefaultFields = {
    {IDC_VIDEO_WIDTH, "320"},         {IDC_VIDEO_HEIGHT, "240"},        {IDC_VIDEO_FPS, "10"},
    {IDC_VIDEO_BITRATE, "160"},       {IDC_VIDEO_INTERVAL, "30"},       {IDC_VIDEO_BFRAME, "0"},
    {IDC_VIDEO_QUALITY, "0"},         {IDC_AUDIO_SAMPLE_RATE, "44100"}, {IDC_AUDIO_CHANNELS, "2"},
    {IDC_AUDIO_BIT_PER_SAMPLE, "16"}, {IDC_AUDIO_BITRATE, "32"},
};

QString Text(const CSettingDilag& dialog, int id)
{
    return DialogItemAs<QLineEdit>(dialog, id)->text();
}

void Type(CSettingDilag& dialog, int id, const QString& text)
{
    DialogItemAs<QLineEdit>(dialog, id)->setText(text);
}

void Press(CSettingDilag& dialog, int id)
{
    DialogItemAs<QPushButton>(dialog, id)->click();
}

PublishSettings Saved()
{
    PublishSettings settings;
    ReadDialogSettings(kSettingsPath, settings);
    return settings;
}

bool EngineCalled(const std::string& call)
{
    return std::ranges::find(RecordingEngine::calls, call) != RecordingEngine::calls.end();
}

// A dialog opened as the settings button opens it, without a modal loop.
class SettingDialog : public WindowTest {
protected:
    void OpenDialog()
    {
        dialog.OnInitDialog();
        QObject::connect(&dialog, &QDialog::finished, [this](int result) { results.push_back(result); });
    }

    CSettingDilag dialog;
    std::vector<int> results;
};

TEST_F(SettingDialog, OpensFromButtonThreeAndSavesWhatTheNextGoOnAirUses)
{
    Open();
    // Owned here, so that it cannot fire into a later test when no dialog opens.
    QTimer operatorActions;
    operatorActions.setSingleShot(true);
    QObject::connect(&operatorActions, &QTimer::timeout, [this] {
        auto* modal = QApplication::activeModalWidget();
        auto* opened = qobject_cast<CSettingDilag*>(modal);
        if (!opened) {
            ADD_FAILURE() << "no settings dialog";
            if (modal) modal->close();
            return;
        }
        EXPECT_EQ(opened->parentWidget(), window.get());
        EXPECT_EQ(Text(*opened, IDC_PUBLISH_ADDRESS), "");
        for (const auto& [id, text] : kDefaultFields) EXPECT_EQ(Text(*opened, id), text) << id;
        Type(*opened, IDC_PUBLISH_ADDRESS, "rtmp://127.0.0.1/live/s");
        Press(*opened, IDOK);
        if (opened->isVisible()) opened->reject();
    });
    operatorActions.start(0);
    Click(IDC_SETTINGS);
    // Every seeded key in its place, then the sections added after them.
    EXPECT_EQ(test_support::ReadFile("set.ini"),
              kDefaultSettingsFile +
                  std::string("[network]\nm_bAdaptiveBitrate=True\n[record]\nm_bRecord=False\nm_strRecordDir=\n"));
    Click(IDC_ON_AIR);
    EXPECT_TRUE(EngineCalled("SetVideoParams 320 240 10 160000 window 30"));
    EXPECT_TRUE(EngineCalled("SetPublishAddress [rtmp://127.0.0.1] [live?qex] [s]"));
    EXPECT_TRUE(boxes.empty());
}

TEST_F(SettingDialog, FirstNotTrueIgnoresTheFile)
{
    WriteSettingsFile(
        "[Start]\nfirst=False\n[svr]\nm_strScheduleSvr=rtmp://x\nm_strKey=secret\n"
        "[video]\nm_iVdWidth=640\n[audio]\nm_iAdVolum=50\n");
    OpenDialog();
    EXPECT_EQ(Text(dialog, IDC_PUBLISH_ADDRESS), "");
    EXPECT_EQ(Text(dialog, IDC_VIDEO_WIDTH), "320");
    Type(dialog, IDC_PUBLISH_ADDRESS, "rtmp://127.0.0.1/live/s");
    Press(dialog, IDOK);
    PublishSettings expected;
    SplitPublishAddress("rtmp://127.0.0.1/live/s", expected);
    EXPECT_EQ(Saved(), expected);
    EXPECT_TRUE(ReadProfileBool(kSettingsPath, "Start", "first", false));
}

TEST_F(SettingDialog, OkWithoutEditsWritesBackWhatWasRead)
{
    for (const char* address : {"rtmp://h.example/app/stream", "rtmp://h.example:1936/live/s1",
                                "rtmp://h.example/app/a/b", "h.example/app/stream", "//h.example/app/stream"}) {
        PublishSettings stored;
        stored.m_strUserID = "7";
        stored.m_strKey = "secret";
        stored.m_iVdQuality = 66;
        stored.m_iAdVolum = 55;
        stored.m_bAdMute = true;
        stored.m_bShowSpectrum = false;
        SplitPublishAddress(address, stored);
        ASSERT_TRUE(::WriteSettingsFile(kSettingsPath, stored));
        CSettingDilag reopened;
        reopened.OnInitDialog();
        EXPECT_EQ(Text(reopened, IDC_PUBLISH_ADDRESS).toStdString(), JoinPublishAddress(stored));
        Press(reopened, IDOK);
        EXPECT_EQ(Saved(), stored) << address;
    }
}

TEST_F(SettingDialog, TheFolderRowShowsTheDefaultAndSavesAFolderTypedOrChosen)
{
    OpenDialog();
    const QString shown = Text(dialog, IDC_RECORD_FOLDER);
    EXPECT_EQ(shown.toStdString(), DefaultRecordFolder());
    EXPECT_EQ(DialogItemAs<QPushButton>(dialog, IDC_RECORD_BROWSE)->text(), "浏览…");
    Type(dialog, IDC_PUBLISH_ADDRESS, "rtmp://h/app/s");
    Press(dialog, IDOK);
    EXPECT_EQ(Saved().m_strRecordDir, "") << "the default left as shown stays the default";

    CSettingDilag again;
    again.OnInitDialog();
    Type(again, IDC_RECORD_FOLDER, " /srv/录像 ");
    Press(again, IDOK);
    EXPECT_EQ(Saved().m_strRecordDir, "/srv/录像");
    CSettingDilag third;
    third.OnInitDialog();
    EXPECT_EQ(Text(third, IDC_RECORD_FOLDER), "/srv/录像");
}

TEST_F(SettingDialog, ReadsFieldsAsTyped)
{
    OpenDialog();
    Type(dialog, IDC_PUBLISH_ADDRESS, "rtmp://h/app/" + QString(137, u's'));
    Type(dialog, IDC_VIDEO_FPS, "25fps");
    Type(dialog, IDC_VIDEO_WIDTH, "letters");
    Type(dialog, IDC_VIDEO_HEIGHT, " -5");
    Type(dialog, IDC_VIDEO_BITRATE, "99999999999");
    Type(dialog, IDC_AUDIO_BITRATE, QString(99, u' ') + "5");  // the digit is the 100th unit: cut off
    Press(dialog, IDOK);
    const PublishSettings saved = Saved();
    EXPECT_EQ(saved.m_strPublishStageInfo, std::string(99 - 13, 's'));
    EXPECT_EQ(saved.m_iVdFps, 25);
    EXPECT_EQ(saved.m_iVdWidth, 0);
    EXPECT_EQ(saved.m_iVdHeight, -5);
    EXPECT_EQ(saved.m_iVdBitRate, 2147483647);
    EXPECT_EQ(saved.m_iAdBitRate, 0);
}

TEST_F(SettingDialog, CancelLeavesTheFileAsItWas)
{
    const std::string handWritten = "; mine\r\n[svr]\r\nm_strScheduleSvr = rtmp://h\r\n[extra]\nk=v";
    WriteSettingsFile(handWritten);
    OpenDialog();
    EXPECT_EQ(Text(dialog, IDC_PUBLISH_ADDRESS), "rtmp://h/app/stream");
    Type(dialog, IDC_PUBLISH_ADDRESS, "rtmp://other/x/y");
    Press(dialog, IDCANCEL);
    EXPECT_EQ(test_support::ReadFile("set.ini"), handWritten);
    EXPECT_EQ(results, std::vector<int>{QDialog::Rejected});
}

TEST_F(SettingDialog, EmptyAddressKeepsTheDialogOpenWithNothingSaved)
{
    OpenDialog();
    Press(dialog, IDOK);
    EXPECT_EQ(boxes, std::vector<QString>{QString::fromUtf8(kEmptyAddressMessage)});
    EXPECT_FALSE(QFile::exists("set.ini"));
    EXPECT_TRUE(results.empty());
    Type(dialog, IDC_PUBLISH_ADDRESS, "rtmp://h/a/b");
    Press(dialog, IDOK);
    EXPECT_EQ(Saved().m_strPublishRoomInfo, "a");
    EXPECT_EQ(results, std::vector<int>{QDialog::Accepted});
}

TEST_F(SettingDialog, FailedSaveIsReportedAndTheDialogStaysOpen)
{
    QDir().mkdir("set.ini");
    OpenDialog();
    EXPECT_EQ(Text(dialog, IDC_AUDIO_SAMPLE_RATE), "44100");
    Type(dialog, IDC_PUBLISH_ADDRESS, "rtmp://h/a/b");
    Press(dialog, IDOK);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_NE(boxes.front(), QString::fromUtf8(kEmptyAddressMessage));
    EXPECT_TRUE(results.empty());
}

TEST_F(SettingDialog, LineBreakInTheAddressNeverReachesTheFile)
{
    WriteSettingsFile("[svr]\nm_strScheduleSvr=rtmp://h\n");
    OpenDialog();
    Type(dialog, IDC_PUBLISH_ADDRESS, "rtmp://h/a/b\n[video]\nm_iVdFps=1");
    Press(dialog, IDOK);
    EXPECT_EQ(test_support::ReadFile("set.ini"), "[svr]\nm_strScheduleSvr=rtmp://h\n");
    EXPECT_EQ(boxes.size(), 1u);
    EXPECT_TRUE(results.empty());
}

TEST_F(SettingDialog, BytesOutsideTheCharacterSetDoNotBreakTheDialog)
{
    WriteSettingsFile("[svr]\nm_strScheduleSvr=rtmp://\xff\xfe\x80\n[video]\nm_iVdFps=\xff\n");
    OpenDialog();
    EXPECT_TRUE(Text(dialog, IDC_PUBLISH_ADDRESS).startsWith("rtmp://"));
    EXPECT_EQ(Text(dialog, IDC_VIDEO_FPS), "0");
}

TEST_F(SettingDialog, BitratesBeyondRangeReachTheEngineSaturated)
{
    WriteSettingsFile(
        "[svr]\nm_strScheduleSvr=rtmp://h\n[video]\nm_iVdBitRate=3000000\n"
        "[audio]\nm_iAdBitRate=-3000000\n");
    Open();
    Click(IDC_ON_AIR);
    EXPECT_TRUE(EngineCalled("SetVideoParams 320 240 10 2147483647 window 30"));
    EXPECT_TRUE(EngineCalled("SetAudioParams 44100 2 16 -2147483648 80 false"));
}

// Values the engine would refuse at going on air are hinted at, field by field, and
// still saved as typed: the dialog never blocks OK.
TEST_F(SettingDialog, ValuesTheEngineWouldRefuseAreHintedAtAndStillSaved)
{
    WriteSettingsFile(kDefaultSettingsFile);
    OpenDialog();
    const auto hint = [this](int id) { return DialogItemAs<QLabel>(dialog, id)->text(); };
    const auto marked = [this](int id) { return !DialogItemAs<QLineEdit>(dialog, id)->styleSheet().isEmpty(); };
    EXPECT_EQ(hint(IDC_PARAMETER_HINT), "") << "the defaults stream";
    EXPECT_EQ(hint(IDC_ADDRESS_HINT), "");
    for (const auto& [id, shown] : kDefaultFields) EXPECT_FALSE(marked(id)) << id;

    Type(dialog, IDC_VIDEO_FPS, "-5");
    Type(dialog, IDC_AUDIO_SAMPLE_RATE, "44000");
    Type(dialog, IDC_VIDEO_INTERVAL, "abc");
    EXPECT_TRUE(hint(IDC_PARAMETER_HINT).contains("帧率 -5 无法推流，可用 1 到 120"))
        << hint(IDC_PARAMETER_HINT).toStdString();
    EXPECT_TRUE(hint(IDC_PARAMETER_HINT).contains("关键帧间隔 0 无法推流")) << "what OK would save";
    EXPECT_TRUE(hint(IDC_PARAMETER_HINT).contains("采样率 44000 无法推流"));
    for (int id : {IDC_VIDEO_FPS, IDC_AUDIO_SAMPLE_RATE, IDC_VIDEO_INTERVAL}) EXPECT_TRUE(marked(id)) << id;
    EXPECT_FALSE(marked(IDC_VIDEO_WIDTH));
    Type(dialog, IDC_VIDEO_BITRATE, "100001");
    EXPECT_TRUE(hint(IDC_PARAMETER_HINT).contains("视频码率 100001 无法推流，可用 1 到 100000")) << "in kbps, as shown";
    Type(dialog, IDC_VIDEO_FPS, "25");
    EXPECT_FALSE(marked(IDC_VIDEO_FPS));
    EXPECT_FALSE(hint(IDC_PARAMETER_HINT).contains("帧率"));

    Type(dialog, IDC_PUBLISH_ADDRESS, "rtmp://127.0.0.1/live");
    EXPECT_EQ(hint(IDC_ADDRESS_HINT), "地址缺少流名称");
    Press(dialog, IDOK);
    EXPECT_EQ(results, std::vector<int>{QDialog::Accepted});
    EXPECT_EQ(Saved().m_iVdInterval, 0);
    EXPECT_EQ(Saved().m_iAdSampleRate, 44000);
    EXPECT_EQ(Saved().m_strPublishStageInfo, "127.0.0.1/live") << "saved as the split makes it";
}

TEST_F(SettingDialog, EachFieldsToolTipGivesItsUnitAndWhatIsTaken)
{
    OpenDialog();
    const std::pair<int, const char*> units[] = {
        {IDC_VIDEO_FPS, "fps"},        {IDC_VIDEO_BITRATE, "kbps"},    {IDC_AUDIO_BITRATE, "kbps"},
        {IDC_AUDIO_SAMPLE_RATE, "Hz"}, {IDC_VIDEO_INTERVAL, "frames"},
    };
    for (const auto& [id, unit] : units)
        EXPECT_TRUE(DialogItemAs<QLineEdit>(dialog, id)->toolTip().contains(unit)) << id;
    EXPECT_TRUE(DialogItemAs<QLineEdit>(dialog, IDC_AUDIO_SAMPLE_RATE)->toolTip().contains("48000"));
}

TEST(AddressHint, TheEnginesVerdictOnTheAddressAsTyped)
{
    const std::pair<const char*, const char*> addresses[] = {
        {"rtmp://127.0.0.1/live/stream", ""},
        {"rtmps://h:443/app/a/b", ""},
        {"h/app/s", ""},
        {"rtmp://127.0.0.1/live", "地址缺少流名称"},
        {"rtmp://127.0.0.1/live/", "地址缺少流名称"},
        {"rtmp://127.0.0.1", "地址缺少流名称"},
        {"rtmp:/127.0.0.1/live/x", "地址格式不对"},
        {"http://127.0.0.1/live/x", "地址格式不对"},
        {"rtmp://127.0.0.1:99999/live/x", "地址格式不对"},
        {"rtmp://127.0.0.1//x", "地址格式不对"},
        {"", ""},
    };
    for (const auto& [typed, hint] : addresses) EXPECT_EQ(AddressHint(typed), QString::fromUtf8(hint)) << typed;
}

}  // namespace
