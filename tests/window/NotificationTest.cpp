#include "support/WindowFixture.h"

#include "window/EngineNotifications.h"

TEST(EngineNotifications, AWellFormedLevelNotificationIsRouted)
{
    EXPECT_EQ(DispatchEngineMessage(R"({"cmd":"OnAudioPercent","params":{"percent":42}})"),
              NotificationRoute::AudioPercent);
    EXPECT_EQ(DispatchEngineMessage(R"({"cmd":"OnAudioPercent","params":{}})"), NotificationRoute::AudioPercent);
}

TEST(EngineNotifications, MalformedOrUnknownNotificationsAreDropped)
{
    for (const char* text : {
             "", "garbage", "null", "[]", "\"OnAudioPercent\"", "42", "true",
             R"({"cmd":"onaudiopercent","params":{}})",
             R"({"cmd":"OnAudioPercent"})",
             R"({"cmd":"OnAudioPercent","params":null})",
             R"({"cmd":"OnAudioPercent","params":[1]})",
             R"({"cmd":"OnAudioPercent","params":3})",
             R"({"cmd":"","params":{}})",
             R"({"params":{}})",
             R"({"cmd":12,"params":{}})",
             R"({"cmd":["OnAudioPercent"],"params":{}})",
             R"({"cmd":{"a":1},"params":{}})",
             R"({"cmd":"OnConnected","params":{}})",
         }) {
        EXPECT_EQ(DispatchEngineMessage(text), NotificationRoute::Dropped) << text;
    }
    EXPECT_EQ(DispatchEngineMessage(std::string(200000, '[')), NotificationRoute::Dropped);
}

class Notifications : public WindowTest {};

TEST_F(Notifications, CallbacksAnswerWithoutTouchingTheWindow)
{
    Open();
    ICastornNotify* notify = RecordingEngine::lastNotify;
    ASSERT_NE(notify, nullptr);
    EXPECT_FALSE(notify->OnEngineMessage(nullptr));
    EXPECT_TRUE(notify->OnEngineMessage(""));
    EXPECT_TRUE(notify->OnEngineMessage(R"({"cmd":"OnAudioPercent","params":{"percent":5}})"));
    EXPECT_TRUE(notify->OnEngineMessage(R"({"cmd":"OnAudioPercent","params":[1]})"));
    EXPECT_TRUE(notify->OnSecondCallback(1, 2));
    EXPECT_TRUE(notify->OnThirdCallback(3));
    EXPECT_TRUE(notify->OnFourthCallback(4));
    IVistrelNotify* preview = window.get();
    EXPECT_TRUE(preview->OnPreviewCallback(1, 2, 3));
    EXPECT_EQ(ButtonPattern(), "1100");
    EXPECT_TRUE(boxes.empty());
}
