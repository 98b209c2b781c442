#include "settings/SettingsFile.h"

#include "support/Files.h"
#include "support/WindowFixture.h"

#include <sys/stat.h>

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

TEST_F(SettingsFile, SavingAKeyLeavesAFileOthersCouldReadToItsOwnerAlone)
{
    WriteSettingsFile("[SVR]\nm_strScheduleSvr=rtmp://old\n");
    ASSERT_EQ(::chmod("set.ini", 0664), 0);
    PublishSettings settings;
    settings.m_strKey = "secret-key";
    ASSERT_TRUE(::WriteSettingsFile(kSettingsPath, settings));
    struct stat saved {};
    ASSERT_EQ(::stat("set.ini", &saved), 0);
    EXPECT_EQ(saved.st_mode & 07777, 0600u);

    ASSERT_EQ(::chmod("set.ini", 0644), 0);
    settings.m_strKey.clear();
    ASSERT_TRUE(::WriteSettingsFile(kSettingsPath, settings));
    ASSERT_EQ(::stat("set.ini", &saved), 0);
    EXPECT_EQ(saved.st_mode & 07777, 0644u) << "without a key the file keeps its mode";
}

TEST_F(SettingsFile, TheRecordSectionComesAfterEverySeededKeyWhichKeepItsOrder)
{
    PublishSettings settings;
    settings.m_strScheduleSvr = "rtmp://h";
    settings.m_bRecord = true;
    settings.m_strRecordDir = "/srv/录像 1";
    ASSERT_TRUE(::WriteSettingsFile(kSettingsPath, settings));
    const std::string saved = test_support::ReadFile("set.ini");
    std::size_t at = 0;
    for (const char* line : {"[Start]", "first=True", "[svr]", "m_strScheduleSvr=rtmp://h", "m_strKey=qex", "[video]",
                             "m_iVdFps=10", "m_iQuality=0", "[audio]", "m_iAdSampleRate=44100", "m_bAdMute=False",
                             "m_bShowSpectrum=True", "[record]", "m_bRecord=True", "m_strRecordDir=/srv/录像 1"}) {
        const std::size_t found = saved.find(line, at);
        ASSERT_NE(found, std::string::npos) << line << " after " << at << " in\n" << saved;
        at = found;
    }
    PublishSettings read;
    ReadDialogSettings(kSettingsPath, read);
    EXPECT_EQ(read, settings);

    ASSERT_TRUE(WriteRecordSwitch(kSettingsPath, false));
    const std::string switched = test_support::ReadFile("set.ini");
    EXPECT_EQ(switched, Replace(saved, "m_bRecord=True", "m_bRecord=False")) << "the one key, in place";

    WriteSettingsFile("[svr]\nm_strScheduleSvr=rtmp://h\n");
    ReadDialogSettings(kSettingsPath, read);
    EXPECT_FALSE(read.m_bRecord);
    EXPECT_EQ(read.m_strRecordDir, "") << "no folder set: the default folder";
    EXPECT_FALSE(RecordFolder(read).empty());
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
