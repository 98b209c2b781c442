#include "settings/SettingsFile.h"

#include "SettingsTestSupport.h"

#include <limits>

namespace {

PublishSettings Sample()
{
    PublishSettings settings;
    settings.m_strScheduleSvr = "rtmp://127.0.0.1";
    settings.m_strPublishRoomInfo = "live";
    settings.m_strPublishStageInfo = "s";
    return settings;
}

using SettingsFileTest = SettingsTest;

TEST_F(SettingsFileTest, WritesAFileFromScratchInKeyOrder)
{
    ASSERT_TRUE(WriteSettingsFile(kSettingsPath, Sample()));
    EXPECT_EQ(ReadFile(), kFromScratch);
}

TEST_F(SettingsFileTest, SaveKeepsEverythingElseOfAHandWrittenFile)
{
    const std::string handWritten = "; operator's notes\n[Other]\nanswer=42\n\n"
                                    "[SVR]\r\n; the old server\r\nm_strScheduleSvr = rtmp://old\r\nlegacy=yes\r\n";
    WriteFile(handWritten);
    ASSERT_TRUE(WriteSettingsFile(kSettingsPath, Sample()));
    const std::string saved = ReadFile();
    for (const char* kept : {"; operator's notes\n[Other]\nanswer=42\n\n[SVR]\r\n; the old server\r\n",
                             "m_strScheduleSvr=rtmp://127.0.0.1\r\nlegacy=yes\r\nm_strPublishRoomInfo=live\n"})
        EXPECT_NE(saved.find(kept), std::string::npos) << kept << "\nin\n" << saved;
    PublishSettings read;
    ReadDialogSettings(kSettingsPath, read);
    EXPECT_EQ(read.m_strScheduleSvr, "rtmp://127.0.0.1");
    EXPECT_EQ(read.m_iAdSampleRate, 44100);
}

TEST_F(SettingsFileTest, ReadsValuesAsThePlatformGivesThem)
{
    WriteFile("[video]\nm_iVdFps=letters\nm_iVdBitRate=500\n"
              "[audio]\nm_bAdMute=TRUE\nm_bShowSpectrum=\nm_iAdBitRate=64\n"
              "[svr]\nm_strScheduleSvr=rtmp://h\nm_strKey=" + std::string(300, 'k') + "\n");
    PublishSettings dialog;
    ReadDialogSettings(kSettingsPath, dialog);
    EXPECT_EQ(dialog.m_iVdFps, 0);
    EXPECT_EQ(dialog.m_iVdWidth, 320);
    EXPECT_EQ(dialog.m_iVdBitRate, 500);
    EXPECT_FALSE(dialog.m_bAdMute);
    EXPECT_FALSE(dialog.m_bShowSpectrum);
    EXPECT_EQ(dialog.m_strKey, std::string(254, 'k'));
    EXPECT_EQ(dialog.m_strPublishRoomInfo, "app");

    PublishSettings onAir;
    ASSERT_TRUE(ReadOnAirSettings(kSettingsPath, onAir));
    EXPECT_EQ(onAir.m_iVdBitRate, 500000);
    EXPECT_EQ(onAir.m_iAdBitRate, 64000);

    EXPECT_TRUE(ReadProfileBool(kSettingsPath, "audio", "absent", true));
    WriteFile("[audio]\nm_bAdMute=true\n");
    EXPECT_TRUE(ReadProfileBool(kSettingsPath, "audio", "m_bAdMute", false));
}

TEST_F(SettingsFileTest, OnAirReadingStopsAtAnEmptyAddress)
{
    WriteFile("[svr]\nm_strScheduleSvr=\nm_strKey=changed\n[video]\nm_iVdBitRate=900\n");
    PublishSettings settings = Sample();
    settings.m_iVdBitRate = 123;
    EXPECT_FALSE(ReadOnAirSettings(kSettingsPath, settings));
    EXPECT_EQ(settings.m_strScheduleSvr, "");
    EXPECT_EQ(settings.m_strPublishRoomInfo, "live");
    EXPECT_EQ(settings.m_strKey, "qex");
    EXPECT_EQ(settings.m_iVdBitRate, 123);
}

TEST_F(SettingsFileTest, BitratesSaturateInsteadOfOverflowing)
{
    constexpr auto kMax = std::numeric_limits<std::int32_t>::max();
    constexpr auto kMin = std::numeric_limits<std::int32_t>::min();
    EXPECT_EQ(ToBitsPerSecond(2147483), 2147483000);
    EXPECT_EQ(ToBitsPerSecond(2147484), kMax);
    EXPECT_EQ(ToBitsPerSecond(kMax), kMax);
    EXPECT_EQ(ToBitsPerSecond(-2147484), kMin);
}

TEST_F(SettingsFileTest, UnreadableFileGivesDefaultsAndRefusesToSave)
{
    QDir().mkdir("set.ini");
    PublishSettings settings = Sample();
    ReadDialogSettings(kSettingsPath, settings);
    EXPECT_EQ(settings.m_strScheduleSvr, "");
    EXPECT_EQ(settings.m_strPublishRoomInfo, "app");
    EXPECT_FALSE(WriteSettingsFile(kSettingsPath, Sample()));
}

}  // namespace
