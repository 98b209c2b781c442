// Sorts the errors rtmp2sink posts into the reasons the notifications give.
// Its bus error is always a resource error; what the connection library saw
// comes as "domain QUARK, code N" in the debug text, or only in the message.
#pragma once

#include "castorn/Failure.h"

#include <glib.h>

#include <chrono>
#include <optional>
#include <string>

namespace castorn {

// A server that closes the connection this soon after taking the publish refused it
// (some answer a wrong key that way, even after "NetStream.Publish.Start").
inline constexpr std::chrono::milliseconds kRefusalWindow{2000};

// `sinceAccepted`: how long ago the server took the publish; nullopt when it had not.
Failure ClassifySenderError(const GError& error, const std::string& debug,
                            std::optional<std::chrono::milliseconds> sinceAccepted);

// The server still holds a publication of the stream: after a loss of our own
// connection, that is the old session it has not dropped yet.
bool AlreadyPublishing(const Failure& failure);

}  // namespace castorn
