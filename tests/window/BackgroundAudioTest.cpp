#include "support/WindowFixture.h"

#include "engine/EngineCommand.h"
#include "platform/DialogTemplate.h"

#include <QComboBox>

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
        WriteSettingsFile(kDefaultSettingsFile);
        Open();
        Click(1022);
    }
    QComboBox* Players() const { return DialogItemAs<QComboBox>(*window, 1018); }
    std::vector<std::string> ClickAndRecord()
    {
        const std::size_t before = RecordingEngine::calls.size();
        Click(1019);
        return {RecordingEngine::calls.begin() + static_cast<std::ptrdiff_t>(before), RecordingEngine::calls.end()};
    }
};

TEST_F(BackgroundAudio, EachClickFlipsTheCaptionAndTellsTheEngine)
{
    EXPECT_EQ(Button(1019)->text(), "启动");
    auto calls = ClickAndRecord();
    EXPECT_EQ(Button(1019)->text(), "停止");
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(SentPlayer(calls[0]), "Music");
    EXPECT_EQ(calls[1], "SetBackgroundAudioOption 0");
    EXPECT_EQ(calls[2], "EnableBackgroundAudio true");
    calls = ClickAndRecord();
    EXPECT_EQ(Button(1019)->text(), "启动");
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(SentPlayer(calls[0]), "Music");
    EXPECT_EQ(calls[2], "EnableBackgroundAudio false");
}

TEST_F(BackgroundAudio, TypedLongAndNonAsciiNamesAreSentAsTheOperatorSeesThem)
{
    Players()->setCurrentIndex(1);
    EXPECT_EQ(SentPlayer(ClickAndRecord()[0]), "播放器");
    Players()->setEditText(QString(120, QChar('p')));
    EXPECT_EQ(SentPlayer(ClickAndRecord()[0]), std::string(99, 'p'));
    Players()->setEditText(QString());
    EXPECT_EQ(SentPlayer(ClickAndRecord()[0]), "");
}

TEST_F(BackgroundAudio, GoingOffAirKeepsTheStateAndCaption)
{
    Click(1019);
    const std::size_t before = RecordingEngine::calls.size();
    Click(1023);
    EXPECT_EQ(RecordingEngine::calls.size(), before + 1);
    EXPECT_FALSE(Button(1019)->isEnabled());
    EXPECT_EQ(Button(1019)->text(), "停止");
    Click(1022);
    EXPECT_TRUE(Button(1019)->isEnabled());
    EXPECT_EQ(Button(1019)->text(), "停止");
    const auto calls = ClickAndRecord();
    EXPECT_EQ(calls.back(), "EnableBackgroundAudio false");
}
