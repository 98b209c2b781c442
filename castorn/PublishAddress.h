// The publish address as the program hands it over (server, application with
// "?key", stream), checked and taken apart for the RTMP client. Servers read a
// publish key from the query of the stream name ("stream?key"), and some refuse
// an application that carries one, so the key moves there.
#pragma once

#include "interface/EngineInterface.h"

#include <optional>
#include <string>

namespace castorn {

struct PublishAddress {
    bool secure = false;          // rtmps://
    std::string host;             // without brackets for IPv6
    int port = kDefaultRtmpPort;  // kDefaultRtmpsPort for rtmps:// when none is given
    std::string application;      // without the key
    std::string stream;
    std::string key;  // the part after "?", empty when none

    std::string Describe() const;     // scheme://host:port/app/stream, without the key
    std::string PublishName() const;  // the stream name given to "publish": with "?key" when there is one
};

// nullopt with a reason in `why` when the address cannot be published to.
std::optional<PublishAddress> ParsePublishAddress(const std::string& server, const std::string& appWithKey,
                                                  const std::string& stream, std::string& why);

}  // namespace castorn
