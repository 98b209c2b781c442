#include "support/WindowFixture.h"

#include "platform/DialogTemplate.h"
#include "settings/SettingDialog.h"

#include <QApplication>
#include <QLineEdit>
#include <QTimer>
#include <algorithm>
#include <fstream>
#include <functional>
#include <sstream>

namespace {

std::string ReadSettingsFile()
{
    std::ostringstream text;
    text << std::ifstream("set.ini", std::ios::binary).rdbuf();
    return text.str();
}

bool Called(const std::string& call)
{
    return std::ranges::find(RecordingEngine::calls, call) != RecordingEngine::calls.end();
}

class MainWindowSettings : public WindowTest {
protected:
    // Clicks button 3 and hands the dialog it opens to the operator's actions, which
    // must close it; a dialog that never shows up fails the test instead of hanging it.
    void RunSettingsDialog(const std::function<void(CSettingDilag&)>& operate)
    {
        QTimer::singleShot(0, [this, &operate] {
            QWidget* modal = QApplication::activeModalWidget();
            auto* dialog = qobject_cast<CSettingDilag*>(modal);
            if (!dialog) {
                ADD_FAILURE() << "no settings dialog";
                if (modal) modal->close();
                return;
            }
            EXPECT_EQ(dialog->parentWidget(), window.get());
            operate(*dialog);
            if (dialog->isVisible()) {
                ADD_FAILURE() << "the dialog stayed open";
                dialog->reject();
            }
        });
        Click(3);
    }
    static QLineEdit* Edit(const CSettingDilag& dialog, int id) { return DialogItemAs<QLineEdit>(dialog, id); }
};

TEST_F(MainWindowSettings, ButtonThreeSavesWhatTheNextGoOnAirUses)
{
    Open();
    RunSettingsDialog([](CSettingDilag& dialog) {
        EXPECT_EQ(Edit(dialog, 1001)->text(), "");
        EXPECT_EQ(Edit(dialog, 1009)->text(), "160");
        Edit(dialog, 1001)->setText("rtmp://127.0.0.1/live/s");
        DialogItemAs<QPushButton>(dialog, 1)->click();
    });
    EXPECT_EQ(ReadSettingsFile(), kDefaultSettingsFile);
    EXPECT_TRUE(boxes.empty());

    Click(1022);
    EXPECT_TRUE(Called("SetVideoParams 320 240 10 160000 window 30"));
    EXPECT_TRUE(Called("SetAudioParams 44100 2 16 32000 80 false"));
    EXPECT_TRUE(Called("SetPublishAddress [rtmp://127.0.0.1] [live?qex] [s]"));
}

TEST_F(MainWindowSettings, CancelFromButtonThreeWritesNothing)
{
    Open();
    RunSettingsDialog([](CSettingDilag& dialog) {
        Edit(dialog, 1001)->setText("rtmp://127.0.0.1/live/s");
        DialogItemAs<QPushButton>(dialog, 2)->click();
    });
    EXPECT_FALSE(QFile::exists("set.ini"));
    EXPECT_FALSE(window->LoadSettings());
    EXPECT_EQ(boxes, std::vector<QString>({"上麦地址为空,请设置上麦地址!"}));
}

TEST_F(MainWindowSettings, BitratesBeyondRangeReachTheEngineSaturated)
{
    WriteSettingsFile("[svr]\nm_strScheduleSvr=rtmp://h\n[video]\nm_iVdBitRate=3000000\n"
                      "[audio]\nm_iAdBitRate=-3000000\n");
    Open();
    Click(1022);
    EXPECT_TRUE(Called("SetVideoParams 320 240 10 2147483647 window 30"));
    EXPECT_TRUE(Called("SetAudioParams 44100 2 16 -2147483648 80 false"));
}

}  // namespace
