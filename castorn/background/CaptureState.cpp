#include "castorn/background/CaptureState.h"

#include "castorn/text/JsonText.h"
#include "interface/EngineInterface.h"

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
    Json::Value params(Json::objectValue);
    params["state"] = StateName(state);
    params["player"] = player;  // in the program's own character set, as it gave it
    return NotificationText(castorn_notification::kBackgroundAudio, params);
}

}  // namespace castorn
