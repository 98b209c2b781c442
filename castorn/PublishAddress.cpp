#include "castorn/PublishAddress.h"

namespace castorn {

std::string PublishAddress::Describe() const
{
    const std::string shownHost = host.find(':') != std::string::npos ? "[" + host + "]" : host;
    return std::string(secure ? "rtmps://" : "rtmp://") + shownHost + ":" + std::to_string(port) + "/" + application +
           "/" + stream;
}

std::string PublishAddress::PublishName() const
{
    if (key.empty()) return stream;
    return stream + (stream.find('?') == std::string::npos ? "?" : "&") + key;
}

std::optional<PublishAddress> ParsePublishAddress(const std::string& server, const std::string& appWithKey,
                                                  const std::string& stream, Failure& why)
{
    PublishAddress out;
    castorn_address::Refusal refusal{};
    if (castorn_address::Parse(server, appWithKey, stream, out, refusal)) return out;
    why = {refusal.reason, refusal.detail};
    return std::nullopt;
}

}  // namespace castorn
