// A main window driven by tests: the recording engine in place of the libraries,
// message boxes collected instead of shown, and a fresh working folder for set.ini.
#pragma once

#include "res/Resources.h"
#include "support/RecordingEngine.h"
#include "support/TempDir.h"
#include "window/MainDialog.h"

#include <QComboBox>
#include <QPushButton>
#include <QString>
#include <gtest/gtest.h>
#include <chrono>
#include <functional>
#include <memory>
#include <vector>

class TestWindow : public Cpublish_taviskDlg {
public:
    using Cpublish_taviskDlg::LoadSettings;
    using Cpublish_taviskDlg::OnInitDialog;
    using Cpublish_taviskDlg::PostNcDestroy;
};

class LevelMeter;

class WindowTest : public ::testing::Test {
protected:
    // The recording engine in place of the libraries, unless set before SetUp.
    bool useRealEngine = false;

    void SetUp() override;
    void TearDown() override;

    // Creates the window and runs its initialisation.
    TestWindow& Open();
    // With kDefaultSettingsFile written, opens the window and clicks IDC_ON_AIR.
    void GoOnAir();
    void Click(int id);
    // The engine's calls that a click on `id` makes.
    std::vector<std::string> CallsOfClick(int id);
    QPushButton* Button(int id) const;
    QComboBox* List(int id) const;
    // The enabled state of IDC_ON_AIR, IDC_SETTINGS, IDC_OFF_AIR, IDC_BACKGROUND_AUDIO, as a text like "1100".
    std::string ButtonPattern() const;
    void WriteSettingsFile(const std::string& text);

    // The status (IDC_STATUS) and the level meter (IDC_LEVEL_METER).
    QString StatusText() const;
    LevelMeter* Meter() const;
    // Sends a notification from a thread of its own, as an engine does, then lets
    // the window's event loop take it.
    void NotifyFromEngineThread(const std::string& text);
    // Runs the event loop until `done` holds or the time is up; whether it holds.
    static bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit);

    static std::vector<QString> boxes;
    std::unique_ptr<TestWindow> window;

private:
    test_support::TempDir m_folder;
    QString m_previousFolder;
};

// The set.ini of an operator who saved rtmp://127.0.0.1/live/s with the defaults.
extern const char kDefaultSettingsFile[];
// `text` with the first `from` in it made `to`: a set.ini with one setting changed.
std::string Replace(std::string text, const std::string& from, const std::string& to);
