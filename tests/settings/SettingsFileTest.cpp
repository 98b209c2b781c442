#include "settings/SettingsFile.h"

#include "support/Files.h"
#include "support/WindowFixture.h"

namespace {

using SettingsFile = WindowTest;

TEST_F(SettingsFile, SaveKeepsEverythingElseOfAHandWrittenFile)
{
    WriteSettingsFile(
        "; operator's notes\n[Other]\nanswer=42\n\n"
        "[SVR]\r\n; the old server\r\nm_strScheduleSvr = rtmp://old\r\nlegacy=yes\r\n");
    PublishSettings settings;
    settings.m_strScheduleSvr = "rtmp://new";
    ASSERT_TRUE(::WriteSettingsFile(kSettingsPath, settings));
    const std::string saved = test_support::ReadFile("set.ini");
    for (const char* kept : {"; operator's notes\n[Other]\nanswer=42\n\n[SVR]\r\n; the old server\r\n",
                             "m_strScheduleSvr=rtmp://new\r\nlegacy=yes\r\nm_strPublishRoomInfo=app\n"})
        EXPECT_NE(saved.find(kept), std::string::npos) << kept << "\nin\n" << saved;
    PublishSettings read;
    ReadDialogSettings(kSettingsPath, read);
    EXPECT_EQ(read, settings);
}

TEST_F(SettingsFile, ReadsValuesAsThePlatformGivesThem)
{
    WriteSettingsFile(
        "[video]\nm_iVdFps=letters\nm_iVdBitRate=500\n"
        "[audio]\nm_bAdMute=TRUE\nm_bShowSpectrum=\nm_iAdBitRate=64\n"
        "[svr]\nm_strScheduleSvr=rtmp://h\nm_strKey=" +
        std::string(300, 'k') + "\n");
    PublishSettings dialog;
    ReadDialogSettings(kSettingsPath, dialog);
    EXPECT_EQ(dialog.m_iVdFps, 0);
    EXPECT_EQ(dialog.m_iVdWidth, 320);
    EXPECT_EQ(dialog.m_iVdBitRate, 500);
    EXPECT_FALSE(dialog.m_bAdMute);
    EXPECT_FALSE(dialog.m_bShowSpectrum);
    EXPECT_EQ(dialog.m_strKey, std::string(254, 'k'));
    EXPECT_EQ(dialog.m_strPublishRoomInfo, "app");
    EXPECT_TRUE(ReadProfileBool(kSettingsPath, "audio", "absent", true));

    PublishSettings onAir;
    ASSERT_TRUE(ReadOnAirSettings(kSettingsPath, onAir));
    EXPECT_EQ(onAir.m_iVdBitRate, 500000);
    EXPECT_EQ(onAir.m_iAdBitRate, 64000);
}

TEST_F(SettingsFile, AdaptiveBitrateIsOnUnlessTheNetworkSectionSaysOtherwiseAndIsWrittenLast)
{
    WriteSettingsFile("[svr]\nm_strScheduleSvr=rtmp://h\n");
    PublishSettings settings;
    ReadDialogSettings(kSettingsPath, settings);
    EXPECT_TRUE(settings.m_bAdaptiveBitrate);
    settings.m_bAdaptiveBitrate = false;
    ASSERT_TRUE(::WriteSettingsFile(kSettingsPath, settings));
    const std::string saved = test_support::ReadFile("set.ini");
    const auto audio = saved.find("[audio]");
    const auto network = saved.find("[network]\nm_bAdaptiveBitrate=False\n");
    ASSERT_NE(network, std::string::npos) << saved;
    EXPECT_LT(audio, network) << saved;
    PublishSettings read;
    ASSERT_TRUE(ReadOnAirSettings(kSettingsPath, read));
    EXPECT_FALSE(read.m_bAdaptiveBitrate);
}

TEST_F(SettingsFile, OnAirReadingStopsAtAnEmptyAddress)
{
    WriteSettingsFile("[svr]\nm_strScheduleSvr=\nm_strKey=changed\n[video]\nm_iVdBitRate=900\n");
    PublishSettings settings;
    settings.m_strScheduleSvr = "rtmp://before";
    settings.m_iVdBitRate = 123000;
    PublishSettings expected = settings;
    expected.m_strScheduleSvr.clear();
    EXPECT_FALSE(ReadOnAirSettings(kSettingsPath, settings));
    EXPECT_EQ(settings, expected);
}

}  // namespace
