#include "settings/PublishAddress.h"

#include <gtest/gtest.h>
#include <span>

namespace {

struct AddressCase {
    const char* typed;
    const char* server;
    const char* app;
    const char* stream;
};

constexpr AddressCase kExamples[] = {
    {"rtmp://pub.example.net/app/stream", "rtmp://pub.example.net", "app", "stream"},
    {"rtmp://pub.example.net:1936/live/s1", "rtmp://pub.example.net:1936", "live", "s1"},
    {"rtmp://pub.example.net/app/a/b", "rtmp://pub.example.net", "app", "a/b"},
    {"pub.example.net/app/stream", "pub.example.net:1935", "app", "stream"},
    {"//pub.example.net/app/stream", "//pub.example.net:1935", "app", "stream"},
    {"rtmp://pub.example.net/app", "rtmp://pub.example.net", "app", "pub.example.net/app"},
    {"rtmp://pub.example.net", "rtmp://pub.example.net", "pub.example.net", "pub.example.net"},
    {"abc", "abc:1935", "bc", "bc"},
    {"rtmp:/pub.example.net/app/stream", "rtmp:", "pub.example.net", "app/stream"},
    {" rtmp://pub.example.net/app/stream", " rtmp://pub.example.net", "app", "stream"},
    {"a", "a:1935", "", ""},
};

PublishSettings Split(const std::string& address)
{
    PublishSettings settings;
    SplitPublishAddress(address, settings);
    return settings;
}

TEST(PublishAddress, SplitsByPosition)
{
    for (const AddressCase& c : kExamples) {
        const PublishSettings settings = Split(c.typed);
        EXPECT_EQ(settings.m_strScheduleSvr, c.server) << c.typed;
        EXPECT_EQ(settings.m_strPublishRoomInfo, c.app) << c.typed;
        EXPECT_EQ(settings.m_strPublishStageInfo, c.stream) << c.typed;
        EXPECT_EQ(settings.m_strKey, "qex") << "only the three address fields change";
    }
}

TEST(PublishAddress, WellFormedAddressesSurviveJoinAndSplit)
{
    for (const AddressCase& c : std::span(kExamples).first(5)) {
        const PublishSettings first = Split(c.typed);
        const std::string shown = JoinPublishAddress(first);
        EXPECT_EQ(shown, std::string(c.server) + '/' + c.app + '/' + c.stream);
        const PublishSettings again = Split(shown);
        EXPECT_EQ(again.m_strScheduleSvr, first.m_strScheduleSvr);
        EXPECT_EQ(again.m_strPublishRoomInfo, first.m_strPublishRoomInfo);
        EXPECT_EQ(again.m_strPublishStageInfo, first.m_strPublishStageInfo);
    }
}

}  // namespace
