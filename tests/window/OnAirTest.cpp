#include "support/WindowFixture.h"

#include "platform/DialogTemplate.h"

#include <QFrame>

namespace {

const std::vector<std::string> kOnAirCalls = {
    "SelectVideoDevice 1",
    "SelectAudioDevice 0",
    "ExecuteCommand {\n   \"cmd\" : \"SetBframeCount\",\n   \"params\" : {\n      \"BframeCount\" : 2\n   }\n}\n",
    "ExecuteCommand {\n   \"cmd\" : \"SetVBRQuality\",\n   \"params\" : {\n      \"Quality\" : 23\n   }\n}\n",
    "SetAudioParams 44100 2 16 32000 80 false",
    "SetVideoParams 320 240 10 160000 window 30",
    "SetPublishAddress [rtmp://127.0.0.1] [live?qex] [s]",
    "SetAuxParams 80 0",
    "SetUserId [10000]",
    "ExecuteCommand {\n   \"cmd\" : \"SetRecord\",\n   \"params\" : {\n"
    "      \"folder\" : \"/srv/\\u5f55\\u50cf\",\n      \"record\" : true\n   }\n}\n",
    "ExecuteCommand {\n   \"cmd\" : \"SetAdaptiveBitrate\",\n   \"params\" : {\n      \"Enabled\" : true\n   }\n}\n",
    "StartPublish",
};

const char kRecordSection[] = "[record]\nm_bRecord=True\nm_strRecordDir=/srv/录像\n";

}  // namespace

class OnAir : public WindowTest {
protected:
    void SetUp() override
    {
        WindowTest::SetUp();
        RecordingEngine::next.video = {u"cam 0", u"cam 1"};
        RecordingEngine::next.audio = {u"mic 0"};
    }
};

TEST_F(OnAir, HandsTheEngineEverythingInItsOrderThenShowsTheOnAirPattern)
{
    std::string file = Replace(kDefaultSettingsFile, "m_iBFrame=0", "m_iBFrame=2");
    WriteSettingsFile(Replace(file, "m_iQuality=0", "m_iQuality=23") + kRecordSection);
    Open();
    List(IDC_VIDEO_DEVICE)->setCurrentIndex(1);
    // The preview's receiver, with the size of the frame inside its border, last before StartPublish.
    const QSize frame = DialogItemAs<QFrame>(*window, IDC_PREVIEW_FRAME)->contentsRect().size();
    std::vector<std::string> expected = kOnAirCalls;
    expected.insert(expected.end() - 1, "ExecuteCommand SetPreviewReceiver " + std::to_string(frame.width()) + " " +
                                            std::to_string(frame.height()));
    EXPECT_EQ(CallsOfClick(IDC_ON_AIR), expected);
    EXPECT_NE(RecordingEngine::previewReceiver, nullptr);
    EXPECT_EQ(ButtonPattern(), "0011");
    EXPECT_TRUE(boxes.empty());
}

TEST_F(OnAir, AdaptiveBitrateTurnedOffInTheNetworkSectionIsToldBeforeStartPublish)
{
    WriteSettingsFile(std::string(kDefaultSettingsFile) + "[network]\nm_bAdaptiveBitrate=False\n");
    Open();
    const auto calls = CallsOfClick(IDC_ON_AIR);
    ASSERT_GE(calls.size(), 3u);
    EXPECT_EQ(calls[calls.size() - 3],
              "ExecuteCommand {\n   \"cmd\" : \"SetAdaptiveBitrate\",\n   \"params\" : {\n      \"Enabled\" : false\n  "
              " }\n}\n");
    EXPECT_EQ(calls.back(), "StartPublish");
}

TEST_F(OnAir, NothingSelectedIsMinusOneAndAnEmptyKeyEndsTheApplicationWithAQuestionMark)
{
    WriteSettingsFile(Replace(kDefaultSettingsFile, "m_strKey=qex", "m_strKey="));
    RecordingEngine::next.commandResult = false;  // no selection after start-up
    Open();
    const auto calls = CallsOfClick(IDC_ON_AIR);
    ASSERT_GE(calls.size(), 7u);
    EXPECT_EQ(calls[0], "SelectVideoDevice -1");
    EXPECT_EQ(calls[1], "SelectAudioDevice -1");
    EXPECT_EQ(calls[6], "SetPublishAddress [rtmp://127.0.0.1] [live?] [s]");
}

TEST_F(OnAir, AnEmptyAddressShowsOneMessageAndCallsNothing)
{
    WriteSettingsFile(Replace(kDefaultSettingsFile, "m_strScheduleSvr=rtmp://127.0.0.1", "m_strScheduleSvr="));
    Open();
    EXPECT_TRUE(CallsOfClick(IDC_ON_AIR).empty());
    EXPECT_EQ(boxes, std::vector<QString>({"上麦地址为空,请设置上麦地址!"}));
    EXPECT_EQ(ButtonPattern(), "1100");
}

TEST_F(OnAir, NoSettingsFileIsAnEmptyAddress)
{
    Open();
    Click(IDC_ON_AIR);
    EXPECT_EQ(boxes.size(), 1u);
    EXPECT_EQ(ButtonPattern(), "1100");
}

TEST_F(OnAir, AnEngineThatFailedAtStartUpIsCreatedWhenGoingOnAir)
{
    WriteSettingsFile(kDefaultSettingsFile);
    RecordingEngine::next.createFails = true;
    Open();
    RecordingEngine::next.createFails = false;
    const auto calls = CallsOfClick(IDC_ON_AIR);
    ASSERT_GE(calls.size(), 4u);
    EXPECT_EQ(calls[0], "CreateCastorn");
    EXPECT_EQ(calls[1], "GetNameList");
    EXPECT_EQ(calls[2], "SelectVideoDevice -1");
    EXPECT_EQ(calls.back(), "StartPublish");
    EXPECT_EQ(ButtonPattern(), "0011");
}

TEST_F(OnAir, AnEngineThatCannotBeCreatedAtAllChangesNothing)
{
    WriteSettingsFile(kDefaultSettingsFile);
    RecordingEngine::next.createFails = true;
    Open();
    boxes.clear();
    Click(IDC_ON_AIR);
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(ButtonPattern(), "1100");
}

TEST_F(OnAir, GoingOffAirStopsAndRestoresTheIdlePattern)
{
    GoOnAir();
    EXPECT_EQ(CallsOfClick(IDC_OFF_AIR), std::vector<std::string>({"StopPublish"}));
    EXPECT_EQ(ButtonPattern(), "1100");
}

TEST_F(OnAir, TheFocusFollowsTheButtonThatUndoesTheLastAction)
{
    WriteSettingsFile(kDefaultSettingsFile);
    Open();
    Button(IDC_ON_AIR)->setFocus();
    Click(IDC_ON_AIR);
    EXPECT_EQ(window->focusWidget(), Button(IDC_OFF_AIR));
    Click(IDC_OFF_AIR);
    EXPECT_EQ(window->focusWidget(), Button(IDC_ON_AIR));
}

TEST_F(OnAir, ClosingWhileOnAirReleasesWithoutStopping)
{
    GoOnAir();
    window->PostNcDestroy();
    EXPECT_EQ(RecordingEngine::released, 1);
    EXPECT_EQ(RecordingEngine::calls.back(), "Release");
    EXPECT_EQ(std::count(RecordingEngine::calls.begin(), RecordingEngine::calls.end(), "StopPublish"), 0);
}
