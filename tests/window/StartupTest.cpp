#include "support/WindowFixture.h"

#include <QTimer>

namespace {

QStringList Entries(const QComboBox* list)
{
    QStringList entries;
    for (int i = 0; i < list->count(); ++i) entries << list->itemText(i);
    return entries;
}

}  // namespace

using Startup = WindowTest;

TEST_F(Startup, ListsKeepTheEnginesOrderAndSelectTheirFirstEntries)
{
    RecordingEngine::next.video = {u"Zeta camera", u"Alpha camera"};
    RecordingEngine::next.audio = {u"麦克风", u"Line in"};
    RecordingEngine::next.reply = R"({"data":{"player":["B player","A player"]}})";
    Open();
    EXPECT_EQ(Entries(List(IDC_VIDEO_DEVICE)), QStringList({"Zeta camera", "Alpha camera"}));
    EXPECT_EQ(Entries(List(IDC_AUDIO_DEVICE)), QStringList({"麦克风", "Line in"}));
    EXPECT_EQ(Entries(List(IDC_PLAYER)), QStringList({"B player", "A player"}));
    for (int id : {IDC_VIDEO_DEVICE, IDC_AUDIO_DEVICE, IDC_PLAYER}) EXPECT_EQ(List(id)->currentIndex(), 0) << id;
    EXPECT_EQ(List(IDC_PLAYER)->currentText(), "B player");
    EXPECT_EQ(List(IDC_PLAYBACK_DEVICE)->count(), 0);
    EXPECT_EQ(ButtonPattern(), "1100");
    EXPECT_EQ(
        RecordingEngine::calls,
        (std::vector<std::string>{"CreateCastorn", "GetVideoDevices", "GetAudioDevices",
                                  "ExecuteCommand {\n   \"cmd\" : \"GetPlayerList\",\n   \"params\" : null\n}\n"}));
}

TEST_F(Startup, AFailedCommandLeavesTheDeviceListsWithoutSelection)
{
    RecordingEngine::next.video = {u"cam"};
    RecordingEngine::next.audio = {u"mic"};
    RecordingEngine::next.reply = R"({"data":{"player":["A"]}})";
    RecordingEngine::next.commandResult = false;
    Open();
    EXPECT_EQ(List(IDC_VIDEO_DEVICE)->count(), 1);
    EXPECT_EQ(List(IDC_AUDIO_DEVICE)->count(), 1);
    EXPECT_EQ(List(IDC_PLAYER)->count(), 0);
    for (int id : {IDC_VIDEO_DEVICE, IDC_AUDIO_DEVICE, IDC_PLAYER}) EXPECT_EQ(List(id)->currentIndex(), -1) << id;
}

TEST_F(Startup, UnusableRepliesLeaveNoPlayersButSelectTheDevices)
{
    for (const char* reply : {"null", "{}", "garbage", R"({"data":{"player":[]}})", R"([1,2])"}) {
        RecordingEngine::next.video = {u"cam"};
        RecordingEngine::next.audio = {u"mic"};
        RecordingEngine::next.reply = reply;
        Open();
        EXPECT_EQ(List(IDC_PLAYER)->count(), 0) << reply;
        EXPECT_EQ(List(IDC_VIDEO_DEVICE)->currentIndex(), 0) << reply;
        EXPECT_EQ(List(IDC_AUDIO_DEVICE)->currentIndex(), 0) << reply;
        window->PostNcDestroy();
    }
}

TEST_F(Startup, OddPlayerEntriesAreSkippedOrShownEmpty)
{
    RecordingEngine::next.reply = R"({"data":{"player":["A",null,{},[],"\u64ad\u653e\u5668"]}})";
    Open();
    EXPECT_EQ(Entries(List(IDC_PLAYER)), QStringList({"A", "", "播放器"}));
}

TEST_F(Startup, AReplyWithoutTerminatorIsReadWithinTheBuffer)
{
    RecordingEngine::next.reply = std::string(4096, '[');
    Open();
    EXPECT_EQ(List(IDC_PLAYER)->count(), 0);
    window->PostNcDestroy();
    RecordingEngine::next.reply.clear();
    RecordingEngine::next.replyOfOwn = R"({"data":{"player":["own"]}})";
    Open();
    EXPECT_EQ(Entries(List(IDC_PLAYER)), QStringList({"own"}));
}

TEST_F(Startup, ACountWithoutNamesAddsNothing)
{
    RecordingEngine::next.video = {u"a", u"b"};
    RecordingEngine::next.nullNameArrays = true;
    Open();
    EXPECT_EQ(List(IDC_VIDEO_DEVICE)->count(), 0);
    EXPECT_EQ(List(IDC_AUDIO_DEVICE)->count(), 0);
}

TEST_F(Startup, AFailedEngineShowsOneMessageAndLeavesTheIdlePattern)
{
    RecordingEngine::next.createFails = true;
    Open();
    EXPECT_EQ(boxes, std::vector<QString>({"初始化失败"}));
    EXPECT_EQ(ButtonPattern(), "1100");
    EXPECT_EQ(RecordingEngine::calls, std::vector<std::string>({"CreateCastorn"}));
    for (int id : {IDC_VIDEO_DEVICE, IDC_AUDIO_DEVICE, IDC_PLAYER}) EXPECT_EQ(List(id)->count(), 0);
}

TEST_F(Startup, ClosingReleasesTheEngineOnceWithoutStopping)
{
    window = std::make_unique<TestWindow>();
    QTimer::singleShot(0, window.get(), &QDialog::reject);
    window->DoModal();
    EXPECT_EQ(RecordingEngine::released, 1);
    EXPECT_EQ(RecordingEngine::calls.back(), "Release");
    window->PostNcDestroy();
    EXPECT_EQ(RecordingEngine::released, 1);
    EXPECT_EQ(std::count(RecordingEngine::calls.begin(), RecordingEngine::calls.end(), "StopPublish"), 0);
}

TEST_F(Startup, ClosingAfterAFailedEngineEndsNormally)
{
    RecordingEngine::next.createFails = true;
    window = std::make_unique<TestWindow>();
    QTimer::singleShot(0, window.get(), &QDialog::reject);
    window->DoModal();
    EXPECT_EQ(RecordingEngine::released, 0);
    EXPECT_EQ(boxes.size(), 1u);
}
