#include "engine/EngineCommand.h"
#include "engine/ReplyBuffer.h"

#include <cstring>
#include <gtest/gtest.h>

TEST(EngineCommand, CommandWithoutArgumentsCarriesNullParams)
{
    Json::Value root, params;
    EXPECT_EQ(BuildEngineCommand(root, params, "GetPlayerList"),
              "{\n   \"cmd\" : \"GetPlayerList\",\n   \"params\" : null\n}\n");
}

TEST(EngineCommand, IntegerArgumentsAreBareNumbersAndDocumentsAreRefilled)
{
    Json::Value root, params;
    BuildEngineCommand(root, params, "SetVBRQuality", {{"Quality", Json::Value(7)}});
    EXPECT_EQ(BuildEngineCommand(root, params, "SetBframeCount", {{"BframeCount", Json::Value(2)}}),
              "{\n   \"cmd\" : \"SetBframeCount\",\n   \"params\" : {\n      \"BframeCount\" : 2\n   }\n}\n");
    EXPECT_FALSE(params.isMember("Quality"));
    BuildEngineCommand(root, params, "SetBframeCount", {{"BframeCount", Json::Value(0)}});
    EXPECT_NE(StyledText(root).find("\"BframeCount\" : 0\n"), std::string::npos);
}

TEST(EngineCommand, NonAsciiTextReachesTheEngineAsTheSameBytes)
{
    Json::Value root, params;
    const std::string name = "播放器 \"x\"";
    const std::string text = BuildEngineCommand(root, params, "SelectPlayerName", {{"player", Json::Value(name)}});
    Json::Value parsed;
    ASSERT_TRUE(ParseJson(text, parsed));
    EXPECT_EQ(parsed["params"]["player"].asString(), name);
}

TEST(PlayerListReply, ListsNamesInOrder)
{
    std::vector<std::string> players;
    ASSERT_TRUE(ReadPlayerListReply(R"({"data":{"player":["B","A","C"]},"other":1})", players));
    EXPECT_EQ(players, (std::vector<std::string>{"B", "A", "C"}));
}

TEST(PlayerListReply, EmptyMissingOrUnparsableRepliesGiveNoPlayers)
{
    for (const char* reply : {R"({"data":{"player":[]}})", "{}", "null", R"({"data":null})", R"({"data":{}})"}) {
        std::vector<std::string> players;
        EXPECT_TRUE(ReadPlayerListReply(reply, players)) << reply;
        EXPECT_TRUE(players.empty()) << reply;
    }
    std::vector<std::string> players;
    EXPECT_FALSE(ReadPlayerListReply("not json", players));
    EXPECT_FALSE(ReadPlayerListReply("", players));
    EXPECT_TRUE(players.empty());
}

TEST(PlayerListReply, OtherShapesKeepTheUsableEntries)
{
    std::vector<std::string> players;
    ASSERT_TRUE(ReadPlayerListReply(R"({"data":{"player":["A",1,null,[],{},"",true,"B"]}})", players));
    EXPECT_EQ(players, (std::vector<std::string>{"A", "1", "", "", "true", "B"}));
    for (const char* reply : {R"(["A"])", R"("A")", R"({"data":["A"]})", R"({"data":{"player":{"0":"A"}}})",
                              R"({"data":{"player":"A"}})"}) {
        players.clear();
        EXPECT_TRUE(ReadPlayerListReply(reply, players)) << reply;
        EXPECT_TRUE(players.empty()) << reply;
    }
}

TEST(PlayerListReply, DeepNestingIsRefusedWithoutThrowing)
{
    const std::string deep = std::string(100000, '[') + std::string(100000, ']');
    std::vector<std::string> players;
    EXPECT_FALSE(ReadPlayerListReply(deep, players));
}

TEST(ReplyBuffer, ReadsUpToTheFirstNulButNeverPastTheBuffer)
{
    ReplyBuffer reply;
    EXPECT_EQ(reply.Text(), "");
    std::memset(*reply.Address(), 'x', kCommandReplySize);
    EXPECT_EQ(reply.Text(), std::string(kCommandReplySize, 'x'));
    reply.Clear();
    EXPECT_EQ(reply.Text(), "");
    std::strcpy(*reply.Address(), "ab\0cd");
    EXPECT_EQ(reply.Text(), "ab");
}

TEST(ReplyBuffer, FollowsTheVariableWhereTheEngineMovedIt)
{
    ReplyBuffer reply;
    char own[] = "engine text";
    *reply.Address() = own;
    EXPECT_EQ(reply.Text(), "engine text");
    *reply.Address() = nullptr;
    EXPECT_EQ(reply.Text(), "");
}
