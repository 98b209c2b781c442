#include "castorn/PublishAddress.h"

#include <algorithm>
#include <cctype>

namespace castorn {

namespace {

std::string Trimmed(const std::string& text)
{
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

std::string Lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

// Takes the scheme off `rest`; false for a scheme other than rtmp and rtmps.
bool TakeScheme(std::string& rest, bool& secure, std::string& why)
{
    const auto mark = rest.find("//");
    if (mark == std::string::npos) return true;  // host[:port] alone means rtmp
    std::string scheme = Lower(rest.substr(0, mark));
    if (!scheme.empty() && scheme.back() == ':') scheme.pop_back();
    rest.erase(0, mark + 2);
    if (scheme.empty() || scheme == "rtmp") return true;
    if (scheme == "rtmps") return secure = true;
    why = "unknown scheme \"" + scheme + "\": only rtmp:// and rtmps:// are published to";
    return false;
}

bool ParsePort(const std::string& digits, int& port, std::string& why)
{
    const bool numeric = !digits.empty() && digits.size() <= 5 &&
                         std::all_of(digits.begin(), digits.end(), [](unsigned char c) { return std::isdigit(c); });
    port = numeric ? std::stoi(digits) : 0;
    if (port >= 1 && port <= 65535) return true;
    why = "bad port \"" + digits + "\" in the server address";
    return false;
}

bool ValidHost(const std::string& host)
{
    return !host.empty() && std::none_of(host.begin(), host.end(), [](unsigned char c) {
        return c <= ' ' || c == 0x7f || std::string_view("/?#@[]\\").find(c) != std::string_view::npos;
    });
}

// [v6host] or [v6host]:port
bool TakeBracketedHost(const std::string& authority, PublishAddress& out, std::string& why)
{
    const auto close = authority.find(']');
    const bool hasPort = close != std::string::npos && close + 1 < authority.size();
    const std::string host = close == std::string::npos ? std::string() : authority.substr(1, close - 1);
    if (host.empty() || host.find_first_not_of("0123456789abcdefABCDEF:.") != std::string::npos ||
        (hasPort && authority[close + 1] != ':')) {
        why = "bad IPv6 address in the server address";
        return false;
    }
    out.host = host;
    return !hasPort || ParsePort(authority.substr(close + 2), out.port, why);
}

// host or host:port
bool TakeHostPort(const std::string& authority, PublishAddress& out, std::string& why)
{
    if (!authority.empty() && authority.front() == '[') return TakeBracketedHost(authority, out, why);
    const auto colon = authority.rfind(':');
    const std::string host = authority.substr(0, colon);
    if (!ValidHost(host)) {
        why = host.empty() ? "no host in the server address" : "bad host \"" + host + "\" in the server address";
        return false;
    }
    out.host = host;
    return colon == std::string::npos || ParsePort(authority.substr(colon + 1), out.port, why);
}

bool TakeServer(const std::string& server, PublishAddress& out, std::string& why)
{
    std::string rest = Trimmed(server);
    if (!TakeScheme(rest, out.secure, why)) return false;
    out.port = out.secure ? kDefaultRtmpsPort : kDefaultRtmpPort;
    const auto slash = rest.find('/');
    if (slash != std::string::npos && slash + 1 < rest.size()) {
        why = "the server address holds a path; the application belongs in its own field";
        return false;
    }
    return TakeHostPort(rest.substr(0, slash), out, why);
}

bool TakeApplication(const std::string& appWithKey, PublishAddress& out, std::string& why)
{
    const auto mark = appWithKey.find('?');
    const std::string name = Trimmed(appWithKey.substr(0, mark));
    out.key = mark == std::string::npos ? std::string() : appWithKey.substr(mark + 1);
    if (name.empty()) {
        why = "no application in the publish address";
        return false;
    }
    out.application = name;
    return true;
}

}  // namespace

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
                                                  const std::string& stream, std::string& why)
{
    PublishAddress out;
    if (!TakeServer(server, out, why) || !TakeApplication(appWithKey, out, why)) return std::nullopt;
    out.stream = Trimmed(stream);
    if (out.stream.empty()) {
        why = "no stream name in the publish address";
        return std::nullopt;
    }
    return out;
}

}  // namespace castorn
