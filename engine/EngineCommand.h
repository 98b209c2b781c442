// Engine commands: the JSON envelope {"cmd": name, "params": {...}} in styled text,
// and the one reply the program reads.
#pragma once

#include <json/value.h>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

using CommandArgument = std::pair<const char*, Json::Value>;

// Refills both documents for the command and returns its text.
std::string BuildEngineCommand(Json::Value& root, Json::Value& params, const char* name,
                               const std::vector<CommandArgument>& arguments = {});

// The styled text: sorted members, three-space indent, " : " between name and value.
std::string StyledText(const Json::Value& value);

// Parses text from an engine; false when it is not JSON. Never throws.
bool ParseJson(std::string_view text, Json::Value& document);

// Player names of a "GetPlayerList" reply, in order; false when the reply is not JSON.
// Entries that are not text are skipped; a reply of another shape gives no names.
bool ReadPlayerListReply(std::string_view reply, std::vector<std::string>& players);
