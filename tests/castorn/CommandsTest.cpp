// ExecuteCommand: the player list reply fitted into the caller's buffer, the
// encoder commands, and refusals that say why.
#include "castorn/CommandProcessor.h"
#include "castorn/PlayerReply.h"

#include <gtest/gtest.h>
#include <json/json.h>

#include <clocale>
#include <cstring>

using castorn::CommandProcessor;
using castorn::FitPlayerReply;

namespace {

constexpr std::size_t kBuffer = 1024;

Json::Value ParseReply(const std::string& text)
{
    Json::Value root;
    EXPECT_TRUE(Json::Reader().parse(text, root)) << text;
    return root;
}

std::vector<std::string> Players(const Json::Value& reply)
{
    std::vector<std::string> names;
    for (const auto& name : reply["data"]["player"]) names.push_back(name.asString());
    return names;
}

class Commands : public ::testing::Test {
protected:
    void SetUp() override { std::setlocale(LC_ALL, "C.UTF-8"); }

    bool Run(const std::string& command)
    {
        std::memset(m_buffer, 0x55, sizeof m_buffer);  // never cleared by the program either
        char* reply = m_buffer;
        return m_commands.Execute(command.c_str(), &reply, kBuffer);
    }
    std::string Reply() const { return std::string(m_buffer, strnlen(m_buffer, kBuffer)); }

    std::vector<std::string> m_players;
    std::string m_selected;
    std::vector<std::pair<bool, std::string>> m_recordings;
    struct PreviewReceiver {
        ICastornPreview* receiver;
        int width;
        int height;
        bool operator==(const PreviewReceiver&) const = default;
    };
    std::vector<PreviewReceiver> m_receivers;
    CommandProcessor m_commands{{[this] { return m_players; }, [this](const std::string& name) { m_selected = name; },
                                 [this](bool on, const std::string& folder) { m_recordings.emplace_back(on, folder); },
                                 [this](ICastornPreview* receiver, int width, int height) {
                                     m_receivers.push_back({receiver, width, height});
                                 }}};
    char m_buffer[kBuffer + 16];
};

}  // namespace

TEST(PlayerReply, ManyLongNamesAreLeftOutWholeAndTheReplyStaysWithinTheBuffer)
{
    std::vector<std::string> names;
    for (int i = 0; i < 40; ++i) names.push_back("Player " + std::to_string(i) + std::string(40, 'x'));
    names.push_back("short");
    const std::string reply = FitPlayerReply(names, kBuffer);
    ASSERT_LT(reply.size(), kBuffer);  // room for the NUL
    const auto kept = Players(ParseReply(reply));
    ASSERT_GT(kept.size(), 10u);
    ASSERT_LT(kept.size(), names.size());
    for (std::size_t i = 0; i + 1 < kept.size(); ++i) EXPECT_EQ(kept[i], names[i]) << "kept in order, none cut";
    EXPECT_EQ(kept.back(), "short") << "a later name that fits still comes";
    // One byte less than what was used leaves one more name out.
    EXPECT_LT(Players(ParseReply(FitPlayerReply(names, reply.size()))).size(), kept.size());
    EXPECT_EQ(Players(ParseReply(FitPlayerReply(names, reply.size() + 1))).size(), kept.size());
}

TEST(PlayerReply, QuotesControlCharactersAndNonAsciiSurviveTheRoundTrip)
{
    const std::vector<std::string> names = {"say \"hi\"\\", "tab\there\n", "播放器 ♪", std::string(1100, 'n'), ""};
    const std::string reply = FitPlayerReply(names, kBuffer);
    ASSERT_LT(reply.size(), kBuffer);
    EXPECT_NE(reply.find("播放器"), std::string::npos) << "narrow text goes out as its bytes";
    const auto kept = Players(ParseReply(reply));
    const std::vector<std::string> expected = {names[0], names[1], names[2], ""};
    EXPECT_EQ(kept, expected) << "only the name that cannot fit at all is left out";
}

TEST_F(Commands, GetPlayerListRepliesWithTheSoundServersPlayers)
{
    m_players = {"Music Player", "\"Quoted\" player", "视频"};
    EXPECT_TRUE(Run("{\n   \"cmd\" : \"GetPlayerList\",\n   \"params\" : null\n}\n"));
    EXPECT_EQ(Players(ParseReply(Reply())), m_players);
    m_players.assign(200, std::string(30, 'p'));
    EXPECT_TRUE(Run("{\"cmd\":\"GetPlayerList\",\"params\":null}"));
    EXPECT_LT(Reply().size(), kBuffer);
    EXPECT_FALSE(Players(ParseReply(Reply())).empty());
}

TEST_F(Commands, EncoderCommandsAreKeptForTheNextPublication)
{
    EXPECT_TRUE(Run("{\n   \"cmd\" : \"SetBframeCount\",\n   \"params\" : {\n      \"BframeCount\" : 2\n   }\n}\n"));
    EXPECT_TRUE(Run("{\"cmd\":\"SetVBRQuality\",\"params\":{\"Quality\":70}}"));
    EXPECT_EQ(m_commands.Encoder().bFrames, 2);
    EXPECT_EQ(m_commands.Encoder().vbrQuality, 70);
    EXPECT_TRUE(Run("{\"cmd\":\"SetVBRQuality\",\"params\":{\"Quality\":0}}"));
    EXPECT_EQ(m_commands.Encoder().vbrQuality, 0);
    EXPECT_TRUE(m_commands.Encoder().adaptiveBitrate) << "on unless told otherwise";
    EXPECT_TRUE(Run("{\"cmd\":\"SetAdaptiveBitrate\",\"params\":{\"Enabled\":false}}"));
    EXPECT_FALSE(m_commands.Encoder().adaptiveBitrate);
    EXPECT_TRUE(Run("{\"cmd\":\"SelectPlayerName\",\"params\":{\"player\":\"音乐 player\"}}"));
    EXPECT_EQ(m_selected, "音乐 player");
}

TEST_F(Commands, SetRecordHandsOnTheSwitchAndTheFolderAndRefusesOtherShapes)
{
    EXPECT_TRUE(Run("{\"cmd\":\"SetRecord\",\"params\":{\"record\":true,\"folder\":\"/home/a b/视频\"}}"));
    EXPECT_EQ(ParseReply(Reply())["result"].asString(), "ok");
    EXPECT_TRUE(Run("{\"cmd\":\"SetRecord\",\"params\":{\"record\":false,\"folder\":\"\"}}"));
    for (const char* refused : {"{\"cmd\":\"SetRecord\",\"params\":null}",
                                "{\"cmd\":\"SetRecord\",\"params\":{\"record\":1,\"folder\":\"/tmp\"}}",
                                "{\"cmd\":\"SetRecord\",\"params\":{\"record\":true}}"}) {
        EXPECT_FALSE(Run(refused)) << refused;
        EXPECT_EQ(ParseReply(Reply())["result"].asString(), "error") << refused;
    }
    const std::vector<std::pair<bool, std::string>> expected = {{true, "/home/a b/视频"}, {false, ""}};
    EXPECT_EQ(m_recordings, expected);
}

TEST_F(Commands, SetPreviewReceiverHandsOnTheAddressAndSizeAndRefusesOtherShapes)
{
    const auto address = static_cast<std::uintptr_t>(0x7ffd12345678);
    EXPECT_TRUE(Run("{\"cmd\":\"SetPreviewReceiver\",\"params\":{\"receiver\":" + std::to_string(address) +
                    ",\"width\":318,\"height\":250}}"));
    EXPECT_EQ(ParseReply(Reply())["result"].asString(), "ok");
    EXPECT_TRUE(Run("{\"cmd\":\"SetPreviewReceiver\",\"params\":{\"receiver\":0,\"width\":2,\"height\":4096}}"));
    for (const char* refused :
         {"{\"cmd\":\"SetPreviewReceiver\",\"params\":{\"receiver\":-1,\"width\":320,\"height\":240}}",
          "{\"cmd\":\"SetPreviewReceiver\",\"params\":{\"receiver\":\"0x10\",\"width\":320,\"height\":240}}",
          "{\"cmd\":\"SetPreviewReceiver\",\"params\":{\"receiver\":16,\"width\":1,\"height\":240}}",
          "{\"cmd\":\"SetPreviewReceiver\",\"params\":{\"receiver\":16,\"width\":320,\"height\":4097}}",
          "{\"cmd\":\"SetPreviewReceiver\",\"params\":{\"receiver\":16}}"}) {
        EXPECT_FALSE(Run(refused)) << refused;
        EXPECT_EQ(ParseReply(Reply())["result"].asString(), "error") << refused;
    }
    const std::vector<PreviewReceiver> expected = {{reinterpret_cast<ICastornPreview*>(address), 318, 250},
                                                   {nullptr, 2, 4096}};
    EXPECT_EQ(m_receivers, expected);
}

TEST_F(Commands, UnknownAndMalformedCommandsAnswerFalseAndSayWhy)
{
    const char* refused[] = {
        "",
        "not json",
        "[1, 2]",
        "{\"params\":{}}",
        "{\"cmd\":\"\"}",
        "{\"cmd\":7}",
        "{\"cmd\":\"Launch\",\"params\":null}",
        "{\"cmd\":\"SetBframeCount\",\"params\":null}",
        "{\"cmd\":\"SetBframeCount\",\"params\":{\"BframeCount\":\"2\"}}",
        "{\"cmd\":\"SetBframeCount\",\"params\":{\"BframeCount\":17}}",
        "{\"cmd\":\"SetVBRQuality\",\"params\":{\"Quality\":-1}}",
        "{\"cmd\":\"SetVBRQuality\",\"params\":[70]}",
        "{\"cmd\":\"SetAdaptiveBitrate\",\"params\":{\"Enabled\":\"False\"}}",
        "{\"cmd\":\"SelectPlayerName\",\"params\":{\"player\":3}}",
    };
    for (const char* command : refused) {
        EXPECT_FALSE(Run(command)) << command;
        const Json::Value reply = ParseReply(Reply());
        EXPECT_EQ(reply["result"].asString(), "error") << command;
        EXPECT_FALSE(reply["error"].asString().empty()) << command;
    }
    EXPECT_NE(ParseReply(Reply())["error"].asString().find("player"), std::string::npos);
    EXPECT_EQ(m_commands.Encoder().bFrames, 0) << "a refused value changes nothing";
    EXPECT_TRUE(m_commands.Encoder().adaptiveBitrate);

    const std::string longName(5000, 'X');
    EXPECT_FALSE(Run("{\"cmd\":\"" + longName + "\"}"));
    EXPECT_LT(Reply().size(), kBuffer);
    EXPECT_TRUE(ParseReply(Reply()).isObject());
}

TEST_F(Commands, NoReplyBufferIsNeverWrittenTo)
{
    char* none = nullptr;
    EXPECT_TRUE(m_commands.Execute("{\"cmd\":\"SetBframeCount\",\"params\":{\"BframeCount\":1}}", &none, kBuffer));
    EXPECT_FALSE(m_commands.Execute("bad", nullptr, kBuffer));
    EXPECT_FALSE(m_commands.Execute(nullptr, &none, kBuffer));
    EXPECT_EQ(m_commands.Encoder().bFrames, 1);
}
