#include "support/WindowFixture.h"

#include "engine/EngineCommand.h"

namespace {

// The "player" a recorded SelectPlayerName command carried.
std::string SentPlayer(const std::string& call)
{
    const std::string prefix = "ExecuteCommand ";
    Json::Value command;
    EXPECT_EQ(call.rfind(prefix, 0), 0u) << call;
    EXPECT_TRUE(ParseJson(call.substr(prefix.size()), command)) << call;
    EXPECT_EQ(command["cmd"].asString(), "SelectPlayerName");
    return command["params"]["player"].asString();
}

}  // namespace

class BackgroundAudio : public WindowTest {
protected:
    void SetUp() override
    {
        WindowTest::SetUp();
        RecordingEngine::next.reply = R"({"data":{"player":["Music","\u64ad\u653e\u5668"]}})";
        GoOnAir();
    }
};

TEST_F(BackgroundAudio, EachClickFlipsTheCaptionAndTellsTheEngine)
{
    EXPECT_EQ(Button(IDC_BACKGROUND_AUDIO)->text(), "启动");
    auto calls = CallsOfClick(IDC_BACKGROUND_AUDIO);
    EXPECT_EQ(Button(IDC_BACKGROUND_AUDIO)->text(), "停止");
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(SentPlayer(calls[0]), "Music");
    EXPECT_EQ(calls[1], "SetBackgroundAudioOption 0");
    EXPECT_EQ(calls[2], "EnableBackgroundAudio true");
    calls = CallsOfClick(IDC_BACKGROUND_AUDIO);
    EXPECT_EQ(Button(IDC_BACKGROUND_AUDIO)->text(), "启动");
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(SentPlayer(calls[0]), "Music");
    EXPECT_EQ(calls[2], "EnableBackgroundAudio false");
}

TEST_F(BackgroundAudio, TypedLongAndNonAsciiNamesAreSentAsTheOperatorSeesThem)
{
    List(IDC_PLAYER)->setCurrentIndex(1);
    EXPECT_EQ(SentPlayer(CallsOfClick(IDC_BACKGROUND_AUDIO)[0]), "播放器");
    List(IDC_PLAYER)->setEditText(QString(120, QChar('p')));
    EXPECT_EQ(SentPlayer(CallsOfClick(IDC_BACKGROUND_AUDIO)[0]), std::string(99, 'p'));
    List(IDC_PLAYER)->setEditText(QString());
    EXPECT_EQ(SentPlayer(CallsOfClick(IDC_BACKGROUND_AUDIO)[0]), "");
}

TEST_F(BackgroundAudio, GoingOffAirKeepsTheStateAndCaption)
{
    Click(IDC_BACKGROUND_AUDIO);
    const std::size_t before = RecordingEngine::calls.size();
    Click(IDC_OFF_AIR);
    EXPECT_EQ(RecordingEngine::calls.size(), before + 1);
    EXPECT_FALSE(Button(IDC_BACKGROUND_AUDIO)->isEnabled());
    EXPECT_EQ(Button(IDC_BACKGROUND_AUDIO)->text(), "停止");
    Click(IDC_ON_AIR);
    EXPECT_TRUE(Button(IDC_BACKGROUND_AUDIO)->isEnabled());
    EXPECT_EQ(Button(IDC_BACKGROUND_AUDIO)->text(), "停止");
    const auto calls = CallsOfClick(IDC_BACKGROUND_AUDIO);
    EXPECT_EQ(calls.back(), "EnableBackgroundAudio false");
}
