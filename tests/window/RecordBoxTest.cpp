#include "support/Files.h"
#include "support/WindowFixture.h"

#include "platform/DialogTemplate.h"

#include <QCheckBox>

namespace {

std::string RecordCommand(bool on, const std::string& folder)
{
    return "ExecuteCommand {\n   \"cmd\" : \"SetRecord\",\n   \"params\" : {\n      \"folder\" : \"" + folder +
           "\",\n      \"record\" : " + (on ? "true" : "false") + "\n   }\n}\n";
}

const char kRecordSection[] = "[record]\nm_bRecord=False\nm_strRecordDir=/srv/rec\n";
const char kFile[] = "/srv/rec/publish_tavisk 2026-12-08 20-15-30.mp4";

class RecordBox : public WindowTest {
protected:
    QCheckBox* Box() const { return DialogItemAs<QCheckBox>(*window, IDC_RECORD); }
    QString ToolTip() const { return DialogItem(*window, IDC_STATUS)->toolTip(); }
    std::vector<std::string> CallsOfToggle()
    {
        const std::size_t before = RecordingEngine::calls.size();
        Box()->click();
        return {RecordingEngine::calls.begin() + static_cast<std::ptrdiff_t>(before), RecordingEngine::calls.end()};
    }
};

}  // namespace

TEST_F(RecordBox, FollowsTheFileAndSwitchesTheEngineOnAirOnly)
{
    WriteSettingsFile(kDefaultSettingsFile + std::string(kRecordSection));
    Open();
    EXPECT_FALSE(Box()->isChecked());
    EXPECT_TRUE(Box()->isEnabled());
    EXPECT_TRUE(CallsOfToggle().empty()) << "off air the engine hears of it when going on air";
    EXPECT_EQ(test_support::ReadFile("set.ini"),
              Replace(kDefaultSettingsFile + std::string(kRecordSection), "m_bRecord=False", "m_bRecord=True"));
    const auto onAir = CallsOfClick(IDC_ON_AIR);
    ASSERT_GE(onAir.size(), 4u);
    EXPECT_EQ(onAir[onAir.size() - 4], RecordCommand(true, "/srv/rec")) << "after the seeded calls";
    EXPECT_EQ(onAir.back(), "StartPublish");

    EXPECT_EQ(CallsOfToggle(), std::vector<std::string>{RecordCommand(false, "/srv/rec")});
    EXPECT_EQ(CallsOfToggle(), std::vector<std::string>{RecordCommand(true, "/srv/rec")});
    EXPECT_NE(test_support::ReadFile("set.ini").find("[record]\nm_bRecord=True\n"), std::string::npos);
}

TEST_F(RecordBox, TheStatusShowsTheRecordingItsFileAndWhyItFailed)
{
    GoOnAir();
    const std::string started = std::string(R"({"cmd":"OnRecordingStarted","params":{"path":")") + kFile + "\"}}";
    NotifyFromEngineThread(started);
    EXPECT_TRUE(StatusText().contains("\n录制中 00:00:0")) << StatusText().toStdString();
    EXPECT_EQ(ToolTip().toStdString(), kFile);

    NotifyFromEngineThread(std::string(R"({"cmd":"OnRecordingFailed","params":{"reason":"diskFull","path":")") + kFile +
                           R"(","message":"No space left on device"}})");
    EXPECT_TRUE(StatusText().endsWith("\n录制失败：磁盘已满")) << StatusText().toStdString();
    EXPECT_EQ(ToolTip().toStdString(), kFile + std::string(": No space left on device"));

    NotifyFromEngineThread(
        R"({"cmd":"OnRecordingFailed","params":{"reason":"cannotWrite","path":"/srv/ro","message":"Permission denied"}})");
    EXPECT_TRUE(StatusText().endsWith("\n录制失败：无法写入 /srv/ro")) << StatusText().toStdString();

    NotifyFromEngineThread(started);
    NotifyFromEngineThread(std::string(R"({"cmd":"OnRecordingStopped","params":{"path":")") + kFile + "\"}}");
    EXPECT_FALSE(StatusText().contains("录制")) << StatusText().toStdString();
    EXPECT_TRUE(ToolTip().isEmpty());
    NotifyFromEngineThread(R"({"cmd":"OnRecordingStarted","params":{}})");
    EXPECT_FALSE(StatusText().contains("录制")) << "a recording without its file is no notification";
}
