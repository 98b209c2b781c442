#include "support/WindowFixture.h"

#include "window/EngineNotifications.h"
#include "window/NotificationHandoff.h"

#include <QCoreApplication>
#include <QObject>
#include <thread>

TEST(EngineNotifications, EveryNotificationIsReadWithItsMembers)
{
    const auto read = [](const char* text) {
        const auto event = DispatchEngineMessage(text);
        EXPECT_TRUE(event) << text;
        return event.value_or(EngineEvent{});
    };
    EXPECT_EQ(read(R"({"cmd":"OnAudioPercent","params":{"percent":42}})").percent, 42);
    EXPECT_EQ(read(R"({"cmd":"OnConnecting","params":{"address":"rtmp://h/a","attempt":3}})").attempt, 3);
    EXPECT_EQ(read(R"({"cmd":"OnConnected","params":{"address":"rtmp://h/a"}})").kind, EngineEventKind::Connected);
    const EngineEvent statistics = read(R"({"cmd":"OnStatistics","params":{"liveMs":4000000000,"kbps":2480,)"
                                        R"("framesSent":100,"framesDropped":7,"bytesQueued":5}})");
    EXPECT_EQ(statistics.kind, EngineEventKind::Statistics);
    EXPECT_EQ(statistics.liveMs, 4000000000);
    EXPECT_EQ(statistics.kbps, 2480);
    EXPECT_EQ(statistics.framesSent, 100);
    EXPECT_EQ(statistics.framesDropped, 7);
    EXPECT_EQ(statistics.bytesQueued, 5);
    const EngineEvent lost = read(R"({"cmd":"OnDisconnected","params":{"reason":"lost","message":"broken pipe"}})");
    EXPECT_EQ(lost.reason, "lost");
    EXPECT_EQ(lost.message, "broken pipe");
    const EngineEvent retry =
        read(R"({"cmd":"OnReconnecting","params":{"attempt":2,"delayMs":2000,"reason":"refused"}})");
    EXPECT_EQ(retry.attempt, 2);
    EXPECT_EQ(retry.delayMs, 2000);
    EXPECT_EQ(retry.reason, "refused");
    const EngineEvent error = read(R"({"cmd":"OnPublishError","params":{"reason":"tls","message":"m","final":true}})");
    EXPECT_TRUE(error.final);
    EXPECT_EQ(error.reason, "tls");
    const EngineEvent refused = read(
        R"({"cmd":"OnPublishError","params":{"reason":"parameter","message":"m","final":true,"field":"fps","value":-5}})");
    EXPECT_EQ(refused.field, "fps");
    EXPECT_EQ(refused.value, -5) << "a refused value may be below zero";
    EXPECT_EQ(read(R"({"cmd":"OnPublishError","params":{"message":"old engine"}})").reason, "other")
        << "a failure without a reason is one of no known kind";
    EXPECT_EQ(read(R"({"cmd":"OnPublishStopped","params":{}})").kind, EngineEventKind::PublishStopped);
    const EngineEvent gone = read(R"({"cmd":"OnSourceLost","params":{"source":"audio","name":"Mic","message":"m"}})");
    EXPECT_EQ(gone.source, CaptureSource::Audio);
    EXPECT_EQ(gone.name, "Mic");
    EXPECT_EQ(gone.reason, "") << "a lost source has a reason only when it says one";
    EXPECT_EQ(read(R"({"cmd":"OnSourceLost","params":{"source":"video","reason":"denied"}})").reason, "denied");
    EXPECT_EQ(read(R"({"cmd":"OnSourceBack","params":{"source":"background","name":"P"}})").source,
              CaptureSource::Background);
    EXPECT_EQ(read(R"({"cmd":"OnSourceBack","params":{"source":"video"}})").source, CaptureSource::Video);
    EXPECT_EQ(read(R"({"cmd":"OnConnected","params":{"unknown":[1,{}]}})").kind, EngineEventKind::Connected)
        << "members the window does not know are ignored";
}

TEST(EngineNotifications, MalformedOrUnknownNotificationsAreDropped)
{
    for (const char* text : {
             "",
             "garbage",
             "null",
             "[]",
             "\"OnAudioPercent\"",
             "42",
             "true",
             R"({"cmd":"onaudiopercent","params":{"percent":1}})",
             R"({"cmd":"OnAudioPercent"})",
             R"({"cmd":"OnAudioPercent","params":null})",
             R"({"cmd":"OnAudioPercent","params":[1]})",
             R"({"cmd":"OnAudioPercent","params":3})",
             R"({"cmd":"","params":{}})",
             R"({"params":{}})",
             R"({"cmd":12,"params":{}})",
             R"({"cmd":["OnAudioPercent"],"params":{}})",
             R"({"cmd":{"a":1},"params":{}})",
             R"({"cmd":"OnStatus","params":{}})",
             // Members of the wrong type or out of range.
             R"({"cmd":"OnAudioPercent","params":{}})",
             R"({"cmd":"OnAudioPercent","params":{"percent":"50"}})",
             R"({"cmd":"OnAudioPercent","params":{"percent":101}})",
             R"({"cmd":"OnAudioPercent","params":{"percent":-1}})",
             R"({"cmd":"OnAudioPercent","params":{"percent":1.5}})",
             R"({"cmd":"OnConnecting","params":{"attempt":"one"}})",
             R"({"cmd":"OnStatistics","params":{"liveMs":1000}})",
             R"({"cmd":"OnStatistics","params":{"liveMs":1000,"kbps":3000000000}})",
             R"({"cmd":"OnStatistics","params":{"liveMs":-1,"kbps":1}})",
             R"({"cmd":"OnStatistics","params":{"liveMs":1,"kbps":1,"framesDropped":"many"}})",
             R"({"cmd":"OnReconnecting","params":{"delayMs":2000}})",
             R"({"cmd":"OnReconnecting","params":{"attempt":2,"delayMs":"soon"}})",
             R"({"cmd":"OnPublishError","params":{"reason":5}})",
             R"({"cmd":"OnPublishError","params":{"message":{}}})",
             R"({"cmd":"OnPublishError","params":{"final":"yes"}})",
             R"({"cmd":"OnPublishError","params":{"field":"fps","value":3000000000}})",
             R"({"cmd":"OnPublishError","params":{"field":"fps","value":"-5"}})",
             R"({"cmd":"OnDisconnected","params":{"reason":["lost"]}})",
             R"({"cmd":"OnSourceLost","params":{"name":"Mic"}})",
             R"({"cmd":"OnSourceLost","params":{"source":"screen"}})",
             R"({"cmd":"OnSourceBack","params":{"source":1}})",
         }) {
        EXPECT_FALSE(DispatchEngineMessage(text)) << text;
    }
    EXPECT_FALSE(DispatchEngineMessage(std::string(200000, '[')));
}

TEST(NotificationHandoff, EverythingSentBetweenTwoTurnsArrivesInOneCallInOrder)
{
    QObject receiver;
    std::vector<PendingEvents> deliveries;
    NotificationHandoff handoff(&receiver, [&](PendingEvents pending) { deliveries.push_back(std::move(pending)); });
    std::thread engine([&] {
        for (int attempt = 1; attempt <= 100; ++attempt) {
            handoff.Push({.kind = EngineEventKind::Connecting, .attempt = attempt});
            handoff.Push({.kind = EngineEventKind::AudioPercent, .percent = attempt % 50});
            handoff.Push({.kind = EngineEventKind::Statistics, .kbps = attempt});
            handoff.Push({.kind = EngineEventKind::Statistics, .kbps = attempt + 1000});
        }
    });
    engine.join();
    EXPECT_TRUE(deliveries.empty()) << "nothing runs on the engine's thread";
    QCoreApplication::processEvents();
    ASSERT_EQ(deliveries.size(), 1u);
    const PendingEvents& pending = deliveries.front();
    EXPECT_EQ(pending.loudest, 49) << "the loudest level since the last turn";
    ASSERT_EQ(pending.events.size(), 200u) << "the level merged, each run of figures down to its last";
    for (int attempt = 1; attempt <= 100; ++attempt) {
        const EngineEvent& connecting = pending.events[2 * (attempt - 1)].event;
        const EngineEvent& statistics = pending.events[2 * (attempt - 1) + 1].event;
        EXPECT_EQ(connecting.attempt, attempt);
        EXPECT_EQ(statistics.kbps, attempt + 1000);
    }
    handoff.Push({.kind = EngineEventKind::Connected});
    QCoreApplication::processEvents();
    ASSERT_EQ(deliveries.size(), 2u);
    EXPECT_FALSE(deliveries.back().loudest);
}

TEST(NotificationHandoff, AFloodKeepsTheNewestEvents)
{
    QObject receiver;
    PendingEvents delivered;
    NotificationHandoff handoff(&receiver, [&](PendingEvents pending) { delivered = std::move(pending); });
    const int sent = static_cast<int>(NotificationHandoff::kMaxWaiting) + 100;
    for (int attempt = 1; attempt <= sent; ++attempt)
        handoff.Push({.kind = EngineEventKind::Connecting, .attempt = attempt});
    QCoreApplication::processEvents();
    ASSERT_EQ(delivered.events.size(), NotificationHandoff::kMaxWaiting);
    EXPECT_EQ(delivered.events.back().event.attempt, sent);
    EXPECT_EQ(delivered.events.front().event.attempt, 101);
}
