#include "castorn/text/JsonText.h"

#include <json/writer.h>

namespace castorn {

std::string CompactJson(const Json::Value& value)
{
    Json::StreamWriterBuilder writer;
    writer["indentation"] = "";
    writer["emitUTF8"] = true;
    return Json::writeString(writer, value);
}

std::string NotificationText(const std::string& cmd, const Json::Value& params)
{
    Json::Value root(Json::objectValue);
    root["cmd"] = cmd;
    root["params"] = params;
    return CompactJson(root);
}

}  // namespace castorn
