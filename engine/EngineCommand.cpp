#include "engine/EngineCommand.h"

#include <exception>

// The styled writer and the old reader give the engine's exact wire format; their
// successors format differently.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#include <json/reader.h>
#include <json/writer.h>

std::string StyledText(const Json::Value& value)
{
    Json::StyledWriter writer;
    return writer.write(value);
}

bool ParseJson(std::string_view text, Json::Value& document)
{
    Json::Reader reader;
    try {
        return reader.parse(text.data(), text.data() + text.size(), document, false);
    } catch (const std::exception&) {
        return false;  // nesting too deep for the reader
    }
}
#pragma GCC diagnostic pop

std::string BuildEngineCommand(Json::Value& root, Json::Value& params, const char* name,
                               const std::vector<CommandArgument>& arguments)
{
    root.clear();
    params.clear();
    root["cmd"] = name;
    for (const auto& [key, value] : arguments) params[key] = value;
    root["params"] = params;
    return StyledText(root);
}

namespace {

const Json::Value& Member(const Json::Value& value, const char* name)
{
    static const Json::Value null;
    return value.isObject() ? value[name] : null;
}

}  // namespace

bool ReadPlayerListReply(std::string_view reply, std::vector<std::string>& players)
{
    Json::Value root;
    if (!ParseJson(reply, root)) return false;
    const Json::Value& list = Member(Member(root, "data"), "player");
    if (!list.isArray()) return true;
    for (const Json::Value& entry : list) {
        if (entry.isNull())
            players.emplace_back();
        else if (!entry.isArray() && !entry.isObject())
            players.push_back(entry.asString());
    }
    return true;
}
