#include "support/WindowFixture.h"

#include "window/LevelMeter.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QCoreApplication>
#include <QDebug>
#include <QElapsedTimer>
#include <QLabel>
#include <algorithm>
#include <atomic>
#include <functional>
#include <cstdio>
#include <random>
#include <thread>

namespace {

constexpr int kThreads = 4;
constexpr int kNotificationsPerThread = 25000;

// Every notification the engine sends, malformed ones, huge and binary text, drawn at random.
std::string Notification(std::mt19937& random)
{
    const std::string n = std::to_string(random() % 101);
    switch (random() % 16) {
    case 0: return R"({"cmd":"OnAudioPercent","params":{"percent":)" + n + "}}";
    case 1: return R"({"cmd":"OnConnecting","params":{"address":"rtmp://127.0.0.1/live","attempt":)" + n + "}}";
    case 2: return R"({"cmd":"OnConnected","params":{"address":"rtmp://127.0.0.1/live"}})";
    case 3:
        return R"({"cmd":"OnStatistics","params":{"liveMs":)" + n + R"(000,"kbps":)" + n + R"(,"framesDropped":1}})";
    case 4: return R"({"cmd":"OnDisconnected","params":{"reason":"lost","message":"Broken pipe"}})";
    case 5: return R"({"cmd":"OnReconnecting","params":{"attempt":)" + n + R"(,"delayMs":2000,"reason":"refused"}})";
    case 6:
        return R"({"cmd":"OnPublishError","params":{"reason":"rejected","message":"m","final":)" +
               std::string(random() % 2 ? "true" : "false") + "}}";
    case 7: return R"({"cmd":"OnPublishStopped","params":{}})";
    case 8: return R"({"cmd":"OnSourceLost","params":{"source":"audio","name":"Mic","message":"gone"}})";
    case 9: return R"({"cmd":"OnSourceBack","params":{"source":"video","name":"Screen"}})";
    case 10: return R"({"cmd":"OnAudioPercent","params":null})";
    case 11: return R"({"cmd":[1,2],"params":{}})";
    case 12: return R"({"cmd":"OnReconnecting","params":{"attempt":"x"}})";
    case 13: return std::string(1 + random() % 5000, '[');
    case 14: {
        std::string bytes(1 + random() % 256, '\0');
        for (char& byte : bytes) byte = static_cast<char>(1 + random() % 255);
        return bytes;
    }
    default: return R"({"cmd":"OnStatus","params":{"state":"connected","text":")" + std::string(8 * 1024, 'x') + "\"}}";
    }
}

// What an operator sees of every control but the status and the meter.
std::vector<QString> OtherControls(const QWidget& window)
{
    std::vector<QString> state;
    for (const QWidget* child : window.findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
        const QString id = child->objectName();
        if (id == QString::number(IDC_STATUS) || id == QString::number(IDC_LEVEL_METER)) continue;
        QString text;
        if (auto* button = qobject_cast<const QAbstractButton*>(child)) text = button->text();
        if (auto* label = qobject_cast<const QLabel*>(child)) text = label->text();
        if (auto* list = qobject_cast<const QComboBox*>(child))
            text = list->currentText() + '#' + QString::number(list->count());
        QString line;
        QDebug(&line) << id << text << child->toolTip() << child->isEnabled() << child->geometry() << child->isHidden();
        state.push_back(line);
    }
    return state;
}

}  // namespace

class NotificationStress : public WindowTest {};

// Also a measurement: the slowest turn of the window's event loop is printed and
// recorded as the test's property "slowest_turn_ms".
TEST_F(NotificationStress, EngineThreadsFloodWhileTheWindowGoesOnAndOffAir)
{
    WriteSettingsFile(kDefaultSettingsFile);
    Open();
    window->show();  // so that the flood's repaints are paid for
    const std::vector<QString> idle = OtherControls(*window);
    Click(IDC_ON_AIR);
    const std::vector<QString> onAir = OtherControls(*window);
    Click(IDC_OFF_AIR);
    const std::size_t callsBefore = RecordingEngine::calls.size();

    ICastornNotify* notify = RecordingEngine::lastNotify;
    std::atomic<int> delivered{0};
    std::atomic<bool> refused{false};
    std::vector<std::thread> engineThreads;
    for (int t = 0; t < kThreads; ++t) {
        engineThreads.emplace_back([&, t] {
            std::mt19937 random(static_cast<unsigned>(t));
            for (int i = 0; i < kNotificationsPerThread; ++i) {
                const std::string text = Notification(random);
                if (!notify->OnEngineMessage(text.c_str())) refused = true;
                ++delivered;
            }
        });
    }
    int cycles = 0;
    int unchanged = 0;
    qint64 slowestTurnMs = 0;
    QElapsedTimer turn;
    // Each click and each pass of the event loop is one turn.
    const auto timed = [&](const std::function<void()>& step) {
        turn.start();
        step();
        slowestTurnMs = std::max(slowestTurnMs, turn.elapsed());
    };
    const auto pass = [] { QCoreApplication::processEvents(); };
    QSet<QString> statusTexts;
    while (delivered < kThreads * kNotificationsPerThread) {
        timed([&] { Click(IDC_ON_AIR); });
        timed(pass);
        unchanged += OtherControls(*window) == onAir;
        statusTexts.insert(StatusText());
        timed([&] { Click(IDC_OFF_AIR); });
        timed(pass);
        unchanged += OtherControls(*window) == idle;
        ++cycles;
    }
    for (auto& thread : engineThreads) thread.join();
    QCoreApplication::processEvents();

    std::printf("%d notifications, %d cycles on and off air, slowest turn of the event loop %lld ms\n",
                kThreads * kNotificationsPerThread, cycles, static_cast<long long>(slowestTurnMs));
    RecordProperty("slowest_turn_ms", static_cast<int>(slowestTurnMs));
    EXPECT_FALSE(refused);
    EXPECT_GT(cycles, 0);
    EXPECT_EQ(unchanged, 2 * cycles) << "nothing but the status and the meter follows the engine";
    EXPECT_GT(statusTexts.size(), 1) << "the status followed the flood";
    EXPECT_EQ(OtherControls(*window), idle);
    EXPECT_EQ(StatusText(), "未上麦");
    EXPECT_EQ(Meter()->value(), 0);
    // Each cycle made exactly the calls of going on and off air.
    EXPECT_EQ(RecordingEngine::calls.size() - callsBefore, static_cast<std::size_t>(cycles) * 14);
    EXPECT_EQ(std::count(RecordingEngine::calls.begin(), RecordingEngine::calls.end(), "StartPublish"), cycles + 1);
}
