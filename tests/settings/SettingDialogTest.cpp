#include "settings/SettingDialog.h"

#include "SettingsTestSupport.h"
#include "platform/DialogTemplate.h"
#include "settings/PublishAddress.h"
#include "settings/SettingsFile.h"

#include <QLineEdit>
#include <QPushButton>
#include <utility>
#include <vector>

namespace {

// Edit controls with the defaults they show, in the order the dialog fills them.
const std::vector<std::pair<int, const char*>> kDefaultFields = {
    {1006, "320"}, {1007, "240"}, {1008, "10"}, {1009, "160"}, {1010, "30"}, {1012, "0"},
    {1011, "0"}, {1015, "44100"}, {1020, "2"}, {1022, "16"}, {1021, "32"},
};

// Values other than the defaults, also in the fields the dialog does not show.
PublishSettings Unusual()
{
    PublishSettings settings;
    settings.m_strUserID = "7";
    settings.m_strKey = "secret";
    settings.m_iVdBitRate = 900;
    settings.m_iVdQuality = 66;
    settings.m_iAdVolum = 55;
    settings.m_bAdMute = true;
    settings.m_bShowSpectrum = false;
    return settings;
}

class SettingDialogTest : public SettingsTest {
protected:
    void Open()
    {
        m_dialog.OnInitDialog();
        QObject::connect(&m_dialog, &QDialog::finished, [this](int result) { m_results.push_back(result); });
    }
    QString Text(int id) const { return DialogItemAs<QLineEdit>(m_dialog, id)->text(); }
    void Type(int id, const QString& text) { DialogItemAs<QLineEdit>(m_dialog, id)->setText(text); }
    void Click(int id) { DialogItemAs<QPushButton>(m_dialog, id)->click(); }
    static PublishSettings Saved()
    {
        PublishSettings settings;
        ReadDialogSettings(kSettingsPath, settings);
        return settings;
    }

    CSettingDilag m_dialog;
    std::vector<int> m_results;
};

TEST_F(SettingDialogTest, OpensWithDefaultsWithoutAFileAndSavesThem)
{
    Open();
    EXPECT_EQ(Text(1001), "");
    for (const auto& [id, text] : kDefaultFields) EXPECT_EQ(Text(id), text) << id;
    EXPECT_TRUE(DialogItemAs<QPushButton>(m_dialog, 1)->isDefault());
    Type(1001, "rtmp://127.0.0.1/live/s");
    Click(1);
    EXPECT_EQ(ReadFile(), kFromScratch);
    EXPECT_EQ(m_results, std::vector<int>{QDialog::Accepted});
}

TEST_F(SettingDialogTest, FirstNotTrueIgnoresTheFile)
{
    WriteFile("[Start]\nfirst=False\n[svr]\nm_strScheduleSvr=rtmp://x\nm_strKey=secret\n"
              "[video]\nm_iVdWidth=640\n[audio]\nm_iAdVolum=50\n");
    Open();
    EXPECT_EQ(Text(1001), "");
    EXPECT_EQ(Text(1006), "320");
    Type(1001, "rtmp://127.0.0.1/live/s");
    Click(1);
    PublishSettings expected;
    SplitPublishAddress("rtmp://127.0.0.1/live/s", expected);
    EXPECT_EQ(Saved(), expected);
    EXPECT_TRUE(ReadProfileBool(kSettingsPath, "Start", "first", false));
}

TEST_F(SettingDialogTest, OkWithoutEditsWritesBackWhatWasRead)
{
    for (const char* address : {"rtmp://h.example/app/stream", "rtmp://h.example:1936/live/s1",
                                "rtmp://h.example/app/a/b", "h.example/app/stream", "//h.example/app/stream"}) {
        PublishSettings stored = Unusual();
        SplitPublishAddress(address, stored);
        ASSERT_TRUE(WriteSettingsFile(kSettingsPath, stored));
        CSettingDilag dialog;
        dialog.OnInitDialog();
        EXPECT_EQ(DialogItemAs<QLineEdit>(dialog, 1001)->text().toStdString(), JoinPublishAddress(stored));
        DialogItemAs<QPushButton>(dialog, 1)->click();
        EXPECT_EQ(Saved(), stored) << address;
    }
}

TEST_F(SettingDialogTest, ReadsFieldsAsTyped)
{
    Open();
    Type(1001, "rtmp://h/app/" + QString(137, u's'));
    Type(1008, "25fps");
    Type(1006, "letters");
    Type(1007, " -5");
    Type(1009, "99999999999");
    Type(1021, QString(99, u' ') + "5");  // the digit is the 100th unit: cut off
    Click(1);
    const PublishSettings saved = Saved();
    EXPECT_EQ(saved.m_strPublishStageInfo, std::string(99 - 13, 's'));
    EXPECT_EQ(saved.m_iVdFps, 25);
    EXPECT_EQ(saved.m_iVdWidth, 0);
    EXPECT_EQ(saved.m_iVdHeight, -5);
    EXPECT_EQ(saved.m_iVdBitRate, 2147483647);
    EXPECT_EQ(saved.m_iAdBitRate, 0);
}

TEST_F(SettingDialogTest, CancelLeavesTheFileAsItWas)
{
    const std::string handWritten = "; mine\r\n[svr]\r\nm_strScheduleSvr = rtmp://h\r\n[extra]\nk=v";
    WriteFile(handWritten);
    Open();
    EXPECT_EQ(Text(1001), "rtmp://h/app/stream");
    Type(1001, "rtmp://other/x/y");
    Type(1006, "1");
    Click(2);
    EXPECT_EQ(ReadFile(), handWritten);
    EXPECT_EQ(m_results, std::vector<int>{QDialog::Rejected});
}

TEST_F(SettingDialogTest, EmptyAddressKeepsTheDialogOpenWithNothingSaved)
{
    Open();
    Click(1);
    EXPECT_EQ(Messages(), QStringList{QString::fromUtf8(kEmptyAddressMessage)});
    EXPECT_FALSE(QFile::exists("set.ini"));
    EXPECT_TRUE(m_results.empty());
    Type(1001, "rtmp://h/a/b");
    Click(1);
    EXPECT_EQ(Saved().m_strPublishRoomInfo, "a");
    EXPECT_EQ(m_results, std::vector<int>{QDialog::Accepted});
}

TEST_F(SettingDialogTest, FailedSaveIsReportedAndTheDialogStaysOpen)
{
    QDir().mkdir("set.ini");
    Open();
    for (const auto& [id, text] : kDefaultFields) EXPECT_EQ(Text(id), text) << id;
    Type(1001, "rtmp://h/a/b");
    Click(1);
    ASSERT_EQ(Messages().size(), 1);
    EXPECT_NE(Messages().front(), QString::fromUtf8(kEmptyAddressMessage));
    EXPECT_TRUE(m_results.empty());
}

TEST_F(SettingDialogTest, LineBreakInTheAddressNeverReachesTheFile)
{
    WriteFile("[svr]\nm_strScheduleSvr=rtmp://h\n");
    Open();
    Type(1001, "rtmp://h/a/b\n[video]\nm_iVdFps=1");
    Click(1);
    EXPECT_EQ(ReadFile(), "[svr]\nm_strScheduleSvr=rtmp://h\n");
    EXPECT_EQ(Messages().size(), 1);
    EXPECT_TRUE(m_results.empty());
}

TEST_F(SettingDialogTest, BytesOutsideTheCharacterSetDoNotBreakTheDialog)
{
    WriteFile("[svr]\nm_strScheduleSvr=rtmp://\xff\xfe\x80\n[video]\nm_iVdFps=\xff\n");
    Open();
    EXPECT_TRUE(Text(1001).startsWith("rtmp://"));
    EXPECT_EQ(Text(1008), "0");
}

}  // namespace
