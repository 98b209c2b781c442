// The publish address as the program hands it over (server, application with
// "?key", stream), checked and taken apart for the RTMP client. Servers read a
// publish key from the query of the stream name ("stream?key"), and some refuse
// an application that carries one, so the key moves there.
#pragma once

#include "castorn/Failure.h"
#include "interface/EngineInterface.h"

#include <optional>
#include <string>

namespace castorn {

struct PublishAddress : castorn_address::Parts {
    std::string Describe() const;     // scheme://host:port/app/stream, without the key
    std::string PublishName() const;  // the stream name given to "publish": with "?key" when there is one
};

// nullopt with the reason in `why` when the address cannot be published to.
std::optional<PublishAddress> ParsePublishAddress(const std::string& server, const std::string& appWithKey,
                                                  const std::string& stream, Failure& why);

}  // namespace castorn
