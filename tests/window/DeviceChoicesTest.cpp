// The devices and player the operator chose come back at the next start; the player
// list is asked for again when its box opens; Enter in that box picks a player.
#include "support/Files.h"
#include "support/WindowFixture.h"

#include "settings/DeviceChoices.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <algorithm>
#include <filesystem>

namespace {

void Key(QWidget* target, int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    QKeyEvent press(QEvent::KeyPress, key, modifiers);
    QCoreApplication::sendEvent(target, &press);
}

long PlayerListRequests()
{
    return std::ranges::count_if(RecordingEngine::calls, [](const std::string& call) {
        return call.starts_with("ExecuteCommand") && call.find("\"GetPlayerList\"") != std::string::npos;
    });
}

class DeviceChoice : public WindowTest {
protected:
    void SetUp() override
    {
        WindowTest::SetUp();
        RecordingEngine::next.video = {u"Camera A", u"Camera B"};
        RecordingEngine::next.audio = {u"麦克风 A", u"麦克风 B"};
        RecordingEngine::next.reply = R"({"data":{"player":["Player A","Player B"]}})";
    }

    // Closes the window as the program does and opens a new one: the next start.
    void Restart()
    {
        window->PostNcDestroy();
        window.reset();
        Open();
    }
};

}  // namespace

TEST_F(DeviceChoice, TheChosenDevicesAndPlayerAreSelectedAtTheNextStart)
{
    WriteSettingsFile(kDefaultSettingsFile);
    Open();
    for (int id : {IDC_VIDEO_DEVICE, IDC_AUDIO_DEVICE, IDC_PLAYER}) Key(List(id), Qt::Key_Down);
    Restart();
    EXPECT_EQ(List(IDC_VIDEO_DEVICE)->currentText(), "Camera B");
    EXPECT_EQ(List(IDC_AUDIO_DEVICE)->currentText(), "麦克风 B");
    EXPECT_EQ(List(IDC_PLAYER)->currentText(), "Player B");

    const std::string file = test_support::ReadFile("set.ini");
    EXPECT_GT(file.find("[devices]"), file.find("m_bShowSpectrum")) << "after every seeded section:\n" << file;
    EXPECT_EQ(ReadDeviceChoices("set.ini"), (DeviceChoices{"Camera B", "麦克风 B", "Player B"}));

    // By name, not by place: a device gone and the others moved up.
    RecordingEngine::next.video = {u"Camera B"};
    RecordingEngine::next.audio = {u"Line in"};
    RecordingEngine::next.reply = R"({"data":{"player":["Player C","Player B"]}})";
    Restart();
    EXPECT_EQ(List(IDC_VIDEO_DEVICE)->currentText(), "Camera B");
    EXPECT_EQ(List(IDC_AUDIO_DEVICE)->currentIndex(), 0) << "the first entry when the one chosen is gone";
    EXPECT_EQ(List(IDC_PLAYER)->currentIndex(), 1);
}

TEST_F(DeviceChoice, GoingOnAirRemembersWhatItUsesAndNothingIsWrittenBeforeTheSettings)
{
    Open();
    Key(List(IDC_VIDEO_DEVICE), Qt::Key_Down);
    EXPECT_FALSE(std::filesystem::exists("set.ini")) << "a [devices] section would come before the settings";
    WriteSettingsFile(kDefaultSettingsFile);
    Click(IDC_ON_AIR);
    EXPECT_EQ(ReadDeviceChoices("set.ini").video, "Camera B");
}

TEST_F(DeviceChoice, OpeningThePlayerBoxAsksForThePlayersAgainAndKeepsTheChoice)
{
    RecordingEngine::next.replyFollowsNext = true;
    Open();
    EXPECT_EQ(PlayerListRequests(), 1);
    Key(List(IDC_PLAYER), Qt::Key_Down);
    RecordingEngine::next.reply = R"({"data":{"player":["Player A","Started later","Player B"]}})";
    Key(List(IDC_VIDEO_DEVICE), Qt::Key_Down);
    WriteSettingsFile(kDefaultSettingsFile);
    Click(IDC_ON_AIR);
    Click(IDC_OFF_AIR);
    EXPECT_EQ(PlayerListRequests(), 1) << "only when the box opens";

    Key(List(IDC_PLAYER), Qt::Key_F4);
    List(IDC_PLAYER)->hidePopup();
    EXPECT_EQ(PlayerListRequests(), 2);
    EXPECT_EQ(List(IDC_PLAYER)->count(), 3);
    EXPECT_EQ(List(IDC_PLAYER)->itemText(1), "Started later");
    EXPECT_EQ(List(IDC_PLAYER)->currentText(), "Player B") << "the player chosen stays chosen";

    Key(List(IDC_PLAYER), Qt::Key_Down, Qt::AltModifier);
    List(IDC_PLAYER)->hidePopup();
    EXPECT_EQ(PlayerListRequests(), 3);
}

TEST_F(DeviceChoice, EnterInThePlayerBoxPicksThePlayerTypedAndDoesNotGoOnAir)
{
    WriteSettingsFile(kDefaultSettingsFile);
    Open();
    window->show();  // the default button is pressed only in a window shown
    QComboBox* players = List(IDC_PLAYER);
    players->lineEdit()->setText("player b");
    Key(players, Qt::Key_Return);
    EXPECT_EQ(ButtonPattern(), "1100") << "still off air";
    EXPECT_EQ(players->currentIndex(), 1);
    EXPECT_EQ(players->currentText(), "Player B");
    EXPECT_EQ(players->count(), 2) << "nothing added";
    EXPECT_EQ(ReadDeviceChoices("set.ini").player, "Player B");

    players->lineEdit()->setText("Not running yet");
    Key(players->lineEdit(), Qt::Key_Enter);
    EXPECT_EQ(ButtonPattern(), "1100");
    EXPECT_EQ(players->currentText(), "Not running yet") << "the engine matches a name it does not list yet";

    // Elsewhere Enter still presses the default button.
    Key(List(IDC_VIDEO_DEVICE), Qt::Key_Return);
    EXPECT_EQ(ButtonPattern(), "0011");
}
