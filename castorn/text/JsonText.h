// JSON as the engine hands it to the program, in replies and notifications alike.
#pragma once

#include <json/value.h>

#include <string>

namespace castorn {

// One line; narrow text goes out as its bytes, for the program reads it in its own
// character set.
std::string CompactJson(const Json::Value& value);

// {"cmd": cmd, "params": params}, as interface/EngineInterface.h lays a notification out.
std::string NotificationText(const std::string& cmd, const Json::Value& params);

}  // namespace castorn
