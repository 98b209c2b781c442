#include "window/EngineNotifications.h"

#include "engine/EngineCommand.h"
#include "window/MainDialog.h"

#include <string>

namespace {

constexpr char kAudioPercent[] = "OnAudioPercent";

// The name as text; empty for what cannot be a name.
std::string CommandName(const Json::Value& document)
{
    const Json::Value& cmd = document["cmd"];
    return (cmd.isArray() || cmd.isObject()) ? std::string() : cmd.asString();
}

}  // namespace

NotificationRoute DispatchEngineMessage(std::string_view text)
{
    Json::Value document;
    if (!ParseJson(text, document) || !document.isObject()) return NotificationRoute::Dropped;
    const std::string name = CommandName(document);
    if (name.empty() || !document["params"].isObject()) return NotificationRoute::Dropped;
    // The microphone level has no action in the window.
    return name == kAudioPercent ? NotificationRoute::AudioPercent : NotificationRoute::Dropped;
}

// The callbacks run on engine threads: they touch no window state.
bool Cpublish_taviskDlg::OnEngineMessage(const char* message)
{
    if (!message) return false;
    const std::string text(message);
    DispatchEngineMessage(text);
    return true;
}

bool Cpublish_taviskDlg::OnSecondCallback(std::int32_t, std::int32_t)
{
    return true;
}

bool Cpublish_taviskDlg::OnThirdCallback(std::int32_t)
{
    return true;
}

bool Cpublish_taviskDlg::OnFourthCallback(std::int32_t)
{
    return true;
}

bool Cpublish_taviskDlg::OnPreviewCallback(std::int32_t, std::int32_t, std::int32_t)
{
    return true;
}
