#include "support/WindowFixture.h"

#include "support/WaitUntil.h"

#include "platform/DialogTemplate.h"
#include "platform/MessageBox.h"
#include "window/LevelMeter.h"

#include <QCoreApplication>
#include <QDir>
#include <QLabel>
#include <fstream>
#include <thread>

std::vector<QString> WindowTest::boxes;

constexpr int kWaitStepMs = 10;

const char kDefaultSettingsFile[] =
    "[Start]\nfirst=True\n"
    "[svr]\nm_strScheduleSvr=rtmp://127.0.0.1\nm_strPublishRoomInfo=live\nm_strPublishStageInfo=s\n"
    "m_strUserID=10000\nm_strKey=qex\n"
    "[video]\nm_iVdFps=10\nm_iVdBitRate=160\nm_iVdWidth=320\nm_iVdHeight=240\nm_iVdQuality=80\n"
    "m_iVdInterval=30\nm_iBFrame=0\nm_iQuality=0\n"
    "[audio]\nm_iAdSampleRate=44100\nm_iAdBitRate=32\nm_iAdChannels=2\nm_iAdBitPerSample=16\n"
    "m_iAdVolum=80\nm_bAdMute=False\nm_bShowSpectrum=True\n";

void WindowTest::SetUp()
{
    if (!useRealEngine) RecordingEngine::Install();
    boxes.clear();
    SetMessageBoxHook([](QWidget*, const QString& text) { boxes.push_back(text); });
    m_previousFolder = QDir::currentPath();
    QDir::setCurrent(QString::fromStdString(m_folder.Path()));
}

void WindowTest::TearDown()
{
    if (window) window->PostNcDestroy();
    window.reset();
    QDir::setCurrent(m_previousFolder);
    SetMessageBoxHook(nullptr);
    RecordingEngine::Uninstall();
}

TestWindow& WindowTest::Open()
{
    window = std::make_unique<TestWindow>();
    window->OnInitDialog();
    return *window;
}

void WindowTest::GoOnAir()
{
    WriteSettingsFile(kDefaultSettingsFile);
    Open();
    Click(IDC_ON_AIR);
}

void WindowTest::Click(int id)
{
    Button(id)->click();
}

QPushButton* WindowTest::Button(int id) const
{
    return DialogItemAs<QPushButton>(*window, id);
}

QComboBox* WindowTest::List(int id) const
{
    return DialogItemAs<QComboBox>(*window, id);
}

std::vector<std::string> WindowTest::CallsOfClick(int id)
{
    const auto before = static_cast<std::ptrdiff_t>(RecordingEngine::calls.size());
    Click(id);
    return {RecordingEngine::calls.begin() + before, RecordingEngine::calls.end()};
}

std::string WindowTest::ButtonPattern() const
{
    std::string pattern;
    for (int id : {IDC_ON_AIR, IDC_SETTINGS, IDC_OFF_AIR, IDC_BACKGROUND_AUDIO})
        pattern += Button(id)->isEnabled() ? '1' : '0';
    return pattern;
}

void WindowTest::WriteSettingsFile(const std::string& text)
{
    std::ofstream("set.ini", std::ios::binary) << text;
}

QString WindowTest::StatusText() const
{
    return DialogItemAs<QLabel>(*window, IDC_STATUS)->text();
}

LevelMeter* WindowTest::Meter() const
{
    return dynamic_cast<LevelMeter*>(DialogItem(*window, IDC_LEVEL_METER));
}

void WindowTest::NotifyFromEngineThread(const std::string& text)
{
    ICastornNotify* notify = window.get();
    std::thread engine([&] { EXPECT_TRUE(notify->OnEngineMessage(text.c_str())); });
    engine.join();
    QCoreApplication::processEvents();
}

bool WindowTest::WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit)
{
    return test_support::WaitUntil(done, limit, [] {
        QCoreApplication::processEvents(QEventLoop::AllEvents, kWaitStepMs);
        std::this_thread::sleep_for(std::chrono::milliseconds(kWaitStepMs));
    });
}

std::string Replace(std::string text, const std::string& from, const std::string& to)
{
    return text.replace(text.find(from), from.size(), to);
}
