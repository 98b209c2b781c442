// The publish address typed as one line and kept as three texts: server (scheme, "//",
// host and port), application and stream name.
#pragma once

#include "settings/PublishSettings.h"

#include <string>
#include <string_view>

// Splits by position only; nothing is validated. A server text without any ':' gets the
// default port. An empty address leaves the record as it was.
void SplitPublishAddress(std::string_view address, PublishSettings& settings);

// Server, application and stream name joined with "/", for display.
std::string JoinPublishAddress(const PublishSettings& settings);
