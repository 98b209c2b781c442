#include "castorn/PlayerReply.h"

#include <json/value.h>
#include <json/writer.h>

namespace castorn {

namespace {

std::string Compact(const Json::Value& value)
{
    Json::StreamWriterBuilder writer;
    writer["indentation"] = "";
    // Narrow text goes out as its bytes: the program reads it in its own character set.
    writer["emitUTF8"] = true;
    return Json::writeString(writer, value);
}

Json::Value Reply(const Json::Value& players)
{
    Json::Value root(Json::objectValue);
    root["data"]["player"] = players;
    return root;
}

}  // namespace

std::string FitPlayerReply(const std::vector<std::string>& names, std::size_t limit)
{
    Json::Value players(Json::arrayValue);
    std::size_t size = Compact(Reply(players)).size() + 1;  // the NUL
    for (const auto& name : names) {
        const std::size_t cost = Compact(Json::Value(name)).size() + (players.empty() ? 0 : 1);
        if (size + cost > limit) continue;
        players.append(name);
        size += cost;
    }
    return Compact(Reply(players));
}

}  // namespace castorn
