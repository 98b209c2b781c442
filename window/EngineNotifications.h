// Notifications the publishing engine sends: {"cmd": name, "params": {...}}.
#pragma once

#include <string_view>

enum class NotificationRoute { Dropped, AudioPercent };

// Parses, validates and routes one notification. Safe on any thread and on any
// text: whatever is not a well-formed known notification is dropped.
NotificationRoute DispatchEngineMessage(std::string_view text);
