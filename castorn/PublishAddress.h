// The publish address as the program hands it over (server, application with
// "?key", stream), checked and taken apart for the RTMP client.
#pragma once

#include <optional>
#include <string>

namespace castorn {

struct PublishAddress {
    bool secure = false;      // rtmps://
    std::string host;         // without brackets for IPv6
    int port = 1935;
    std::string application;  // with "?key" when a key was given
    std::string stream;
    std::string key;          // the part after "?", empty when none

    std::string Describe() const;  // scheme://host:port/app/stream, without the key
};

// nullopt with a reason in `why` when the address cannot be published to.
std::optional<PublishAddress> ParsePublishAddress(const std::string& server,
                                                  const std::string& appWithKey,
                                                  const std::string& stream, std::string& why);

}  // namespace castorn
