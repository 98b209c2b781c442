#include "castorn/background/CaptureState.h"

#include "interface/EngineInterface.h"

#include <json/json.h>

namespace castorn {

namespace {

const char* StateName(CaptureState state)
{
    switch (state) {
    case CaptureState::Off: return "off";
    case CaptureState::Waiting: return "waiting";
    case CaptureState::Capturing: return "capturing";
    case CaptureState::Unavailable: return "unavailable";
    }
    return "unavailable";
}

}  // namespace

std::string CaptureStateMessage(CaptureState state, const std::string& player)
{
    Json::Value root;
    root["cmd"] = castorn_notification::kBackgroundAudio;
    root["params"]["state"] = StateName(state);
    root["params"]["player"] = player;
    Json::StreamWriterBuilder writer;
    writer["indentation"] = "";
    writer["emitUTF8"] = true;  // the name stays in the program's own character set
    return Json::writeString(writer, root);
}

}  // namespace castorn
