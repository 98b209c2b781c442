#include "support/WindowFixture.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <atomic>
#include <random>
#include <thread>

namespace {

constexpr int kThreads = 4;
constexpr int kNotificationsPerThread = 25000;

// Valid, malformed, huge and binary notifications, drawn at random.
std::string Notification(std::mt19937& random)
{
    switch (random() % 6) {
    case 0: return R"({"cmd":"OnAudioPercent","params":{"percent":)" + std::to_string(random() % 101) + "}}";
    case 1: return R"({"cmd":"OnAudioPercent","params":null})";
    case 2: return R"({"cmd":[1,2],"params":{}})";
    case 3: return std::string(1 + random() % 5000, '[');
    case 4: {
        std::string bytes(1 + random() % 256, '\0');
        for (char& byte : bytes) byte = static_cast<char>(1 + random() % 255);
        return bytes;
    }
    default: return R"({"cmd":"OnStatus","params":{"state":"connected","text":")" + std::string(8 * 1024, 'x') + "\"}}";
    }
}

}  // namespace

class NotificationStress : public WindowTest {};

TEST_F(NotificationStress, EngineThreadsFloodWhileTheWindowGoesOnAndOffAir)
{
    WriteSettingsFile(kDefaultSettingsFile);
    Open();
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
    while (delivered < kThreads * kNotificationsPerThread) {
        Click(1022);
        QCoreApplication::processEvents();
        Click(1023);
        ++cycles;
    }
    for (auto& thread : engineThreads) thread.join();
    EXPECT_FALSE(refused);
    EXPECT_GT(cycles, 0);
    // The window went on and off air between the floods and ended idle.
    EXPECT_EQ(ButtonPattern(), "1100");
    EXPECT_EQ(std::count(RecordingEngine::calls.begin(), RecordingEngine::calls.end(), "StartPublish"), cycles);
}
