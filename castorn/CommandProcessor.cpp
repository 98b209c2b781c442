#include "castorn/CommandProcessor.h"

#include "castorn/PlayerReply.h"
#include "castorn/text/JsonText.h"
#include "castorn/text/NarrowText.h"
#include "interface/EngineInterface.h"

#include <json/reader.h>

#include <algorithm>
#include <cstring>
#include <memory>

namespace castorn {

namespace {

constexpr std::size_t kShownNameLength = 64;
// A preview larger than a 4K screen is a mistaken size, not a picture to make.
constexpr int kLargestPreviewSide = 4096;

bool Parse(const char* text, Json::Value& root, std::string& why)
{
    Json::CharReaderBuilder builder;
    builder["collectComments"] = false;
    const std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    const char* end = text + std::strlen(text);
    if (reader->parse(text, end, &root, &why)) return true;
    why = "not JSON: " + why.substr(0, why.find('\n'));
    return false;
}

void WriteReply(const std::string& text, char** reply, std::size_t replySize)
{
    if (!reply || !*reply || replySize == 0) return;
    const std::size_t length = std::min(text.size(), replySize - 1);
    std::memcpy(*reply, text.data(), length);
    (*reply)[length] = '\0';
}

}  // namespace

bool CommandProcessor::Execute(const char* command, char** reply, std::size_t replySize)
{
    Outcome outcome{false, {}};
    try {
        Json::Value root;
        std::string why;
        if (!command)
            outcome = Refused("no command text");
        else if (!Parse(command, root, why))
            outcome = Refused(why);
        else if (!root.isObject() || !root["cmd"].isString() || root["cmd"].asString().empty())
            outcome = Refused("a command is an object with a \"cmd\" text");
        else
            outcome = Dispatch(root["cmd"].asString(), root["params"], replySize);
    } catch (const std::exception& error) {
        outcome = Refused(error.what());
    }
    WriteReply(outcome.reply, reply, replySize);
    return outcome.ok;
}

CommandProcessor::Outcome CommandProcessor::Dispatch(const std::string& cmd, const Json::Value& params,
                                                     std::size_t replySize)
{
    if (cmd == "GetPlayerList") return GetPlayerList(replySize);
    if (cmd == "SetBframeCount") return SetInteger(params, "BframeCount", 0, 16, m_encoder.bFrames);
    if (cmd == "SetVBRQuality") return SetInteger(params, "Quality", 0, 100, m_encoder.vbrQuality);
    if (cmd == "SelectPlayerName") return SelectPlayerName(params);
    if (cmd == "SetAdaptiveBitrate") return SetAdaptiveBitrate(params);
    if (cmd == kSetRecordCommand) return SetRecord(params);
    if (cmd == kSetPreviewReceiverCommand) return SetPreviewReceiver(params);
    return Refused("unknown command \"" + cmd.substr(0, kShownNameLength) + "\"");
}

CommandProcessor::Outcome CommandProcessor::GetPlayerList(std::size_t replySize) const
{
    std::vector<std::string> names = m_hooks.listPlayers();
    std::transform(names.begin(), names.end(), names.begin(), Utf8ToNarrow);
    return {true, FitPlayerReply(names, replySize)};
}

CommandProcessor::Outcome CommandProcessor::SetInteger(const Json::Value& params, const char* name, int low, int high,
                                                       int& target)
{
    const Json::Value& value = params.isObject() ? params[name] : Json::Value::nullSingleton();
    if (!value.isInt()) return Refused(std::string("\"params\" needs the integer \"") + name + "\"");
    if (value.asInt() < low || value.asInt() > high)
        return Refused(std::string("\"") + name + "\" is out of range " + std::to_string(low) + "-" +
                       std::to_string(high));
    target = value.asInt();
    return Done();
}

CommandProcessor::Outcome CommandProcessor::SelectPlayerName(const Json::Value& params)
{
    const Json::Value& value = params.isObject() ? params["player"] : Json::Value::nullSingleton();
    if (!value.isString()) return Refused("\"params\" needs the text \"player\"");
    m_hooks.selectPlayer(NarrowToUtf8(value.asString()));
    return Done();
}

CommandProcessor::Outcome CommandProcessor::SetAdaptiveBitrate(const Json::Value& params)
{
    const Json::Value& value = params.isObject() ? params["Enabled"] : Json::Value::nullSingleton();
    if (!value.isBool()) return Refused("\"params\" needs the true or false \"Enabled\"");
    m_encoder.adaptiveBitrate = value.asBool();
    return Done();
}

CommandProcessor::Outcome CommandProcessor::SetRecord(const Json::Value& params)
{
    const Json::Value& on = params.isObject() ? params["record"] : Json::Value::nullSingleton();
    const Json::Value& folder = params.isObject() ? params["folder"] : Json::Value::nullSingleton();
    if (!on.isBool() || !folder.isString())
        return Refused("\"params\" needs \"record\" true or false and the text \"folder\"");
    m_hooks.setRecord(on.asBool(), folder.asString());
    return Done();
}

CommandProcessor::Outcome CommandProcessor::SetPreviewReceiver(const Json::Value& params)
{
    const Json::Value& receiver = params.isObject() ? params["receiver"] : Json::Value::nullSingleton();
    const Json::Value& width = params.isObject() ? params["width"] : Json::Value::nullSingleton();
    const Json::Value& height = params.isObject() ? params["height"] : Json::Value::nullSingleton();
    const auto inRange = [](const Json::Value& side) {
        return side.isInt() && side.asInt() >= 2 && side.asInt() <= kLargestPreviewSide;
    };
    if (!receiver.isUInt64() || !inRange(width) || !inRange(height))
        return Refused("\"params\" needs the address \"receiver\" and \"width\" and \"height\" of 2-" +
                       std::to_string(kLargestPreviewSide));
    m_hooks.setPreviewReceiver(reinterpret_cast<ICastornPreview*>(static_cast<std::uintptr_t>(receiver.asUInt64())),
                               width.asInt(), height.asInt());
    return Done();
}

CommandProcessor::Outcome CommandProcessor::Done()
{
    return {true, "{\"result\":\"ok\"}"};
}

CommandProcessor::Outcome CommandProcessor::Refused(const std::string& why)
{
    Json::Value root(Json::objectValue);
    root["result"] = "error";
    root["error"] = why;
    return {false, CompactJson(root)};
}

}  // namespace castorn
