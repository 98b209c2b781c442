#include "castorn/PlayerReply.h"

#include "castorn/text/JsonText.h"

#include <json/value.h>

namespace castorn {

namespace {

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
    std::size_t size = CompactJson(Reply(players)).size() + 1;  // the NUL
    for (const auto& name : names) {
        const std::size_t cost = CompactJson(Json::Value(name)).size() + (players.empty() ? 0 : 1);
        if (size + cost > limit) continue;
        players.append(name);
        size += cost;
    }
    return CompactJson(Reply(players));
}

}  // namespace castorn
