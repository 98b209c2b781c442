// Names on both sides of the route: players as the program lists and sends them,
// and the sinks we leave our owner's mark on.
#include <gtest/gtest.h>
#include <json/json.h>

#include <string>

#include "castorn/background/CaptureSinkName.h"
#include "castorn/background/CaptureState.h"
#include "castorn/background/PlayerName.h"
#include "castorn/text/NarrowText.h"
#include "support/ScopedLocale.h"

using namespace castorn;
using test_support::ScopedLocale;

namespace {

SinkInput Program(const std::string& name)
{
    return {7, 0, true, name};
}

TEST(CaptureSinkNames, OwnerIsReadFromSinkAndLoopbackArguments)
{
    const CaptureSinkOwner owner{4321, 12};
    EXPECT_EQ(CaptureSinkName(owner), "castorn_bg_4321_12");
    EXPECT_EQ(CaptureSinkOwnerIn("sink_name=castorn_bg_4321_12 sink_properties=x"), owner);
    EXPECT_EQ(CaptureSinkOwnerIn("source=castorn_bg_4321_12.monitor latency_msec=50"), owner);
    EXPECT_EQ(CaptureSinkOwnerIn("sink_name=castorn_bg_4321_12"), owner);
    EXPECT_EQ(CaptureSinkOwnerIn("sink_name=\"castorn_bg_4321_12\" sink_properties=x"), owner) << "quoted";
}

TEST(CaptureSinkNames, OtherNamesAreNotOurs)
{
    EXPECT_FALSE(CaptureSinkOwnerIn("sink_name=player_sink"));
    EXPECT_FALSE(CaptureSinkOwnerIn("sink_name=castorn_bg_4321_12x"));
    EXPECT_FALSE(CaptureSinkOwnerIn("sink_name=castorn_bg_4321"));
    EXPECT_FALSE(CaptureSinkOwnerIn("sink_name=castorn_bg__12"));
    EXPECT_FALSE(CaptureSinkOwnerIn(""));
}

TEST(PlayerNames, WholeNameSelectsButAShorterOneDoesNot)
{
    EXPECT_TRUE(SelectsPlayer("TonePlayer", Program("TonePlayer")));
    EXPECT_FALSE(SelectsPlayer("Tone", Program("TonePlayer")));
    EXPECT_FALSE(SelectsPlayer("TonePlayer ", Program("TonePlayer")));
    EXPECT_FALSE(SelectsPlayer("", Program("")));
    EXPECT_FALSE(SelectsPlayer("", Program("TonePlayer")));
}

TEST(PlayerNames, StreamsOfModulesAreNeverPlayers)
{
    const SinkInput loopback{3, 0, false, "TonePlayer"};
    EXPECT_FALSE(ListedPlayerName(loopback));
    EXPECT_FALSE(SelectsPlayer("TonePlayer", loopback));
    EXPECT_FALSE(ListedPlayerName(Program("")));
}

TEST(PlayerNames, NameCutAt99Utf16UnitsSelectsTheLongPlayer)
{
    const std::string longName(120, 'p');
    EXPECT_TRUE(SelectsPlayer(std::string(99, 'p'), Program(longName)));
    EXPECT_FALSE(SelectsPlayer(std::string(98, 'p'), Program(longName)));

    // Three bytes each in UTF-8, one unit each in UTF-16.
    std::string chinese;
    for (int i = 0; i < 110; ++i) chinese += "播";
    std::string cut;
    for (int i = 0; i < 99; ++i) cut += "播";
    EXPECT_TRUE(SelectsPlayer(cut, Program(chinese)));
}

TEST(NarrowText, Utf16PrefixCountsSurrogatePairsAsTwo)
{
    const std::string emoji =
        "ab\xF0\x9F\x8E\xB5"
        "c";  // U+1F3B5 takes two units
    EXPECT_EQ(Utf16Prefix(emoji, 2), "ab");
    EXPECT_EQ(Utf16Prefix(emoji, 3), "ab");
    EXPECT_EQ(Utf16Prefix(emoji, 4), "ab\xF0\x9F\x8E\xB5");
    EXPECT_EQ(Utf16Prefix(emoji, 99), emoji);
}

TEST(NarrowText, CharactersTheLocaleCannotHoldBecomeQuestionMarks)
{
    {
        ScopedLocale locale("C");
        EXPECT_EQ(Utf8ToNarrow("播放器 7"), "??? 7");
        EXPECT_EQ(Utf8ToNarrow("bad\xFFtail"), "bad?tail");
        EXPECT_EQ(NarrowToUtf8("a\xFF"), "a\uFFFD");
    }
    ScopedLocale utf8("C.UTF-8");
    if (!utf8.Set()) GTEST_SKIP() << "no C.UTF-8 locale";
    EXPECT_EQ(Utf8ToNarrow("播放器 7"), "播放器 7");
}

// The player list goes to the program in its locale's text, and the name chosen there
// comes back the same way: whatever the list showed must select its player.
TEST(PlayerNames, AListedNameSentBackSelectsItsPlayer)
{
    for (const char* localeName : {"C", "C.UTF-8"}) {
        ScopedLocale locale(localeName);
        if (!locale.Set()) continue;
        for (const std::string name : {"TonePlayer", "播放器", "bad\xFFtail"}) {
            const std::string sentBack = NarrowToUtf8(Utf8ToNarrow(name));
            EXPECT_TRUE(SelectsPlayer(sentBack, Program(name))) << localeName << ": " << name;
        }
    }
}

TEST(CaptureStateMessages, MessageIsAWellFormedNotification)
{
    Json::Value root;
    ASSERT_TRUE(Json::Reader().parse(CaptureStateMessage(CaptureState::Waiting, "say \"hi\" 播放器"), root));
    EXPECT_EQ(root["cmd"].asString(), "OnBackgroundAudio");
    ASSERT_TRUE(root["params"].isObject());
    EXPECT_EQ(root["params"]["state"].asString(), "waiting");
    EXPECT_EQ(root["params"]["player"].asString(), "say \"hi\" 播放器");
}

}  // namespace
