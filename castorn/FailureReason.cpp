#include "castorn/FailureReason.h"

#include "interface/EngineInterface.h"

#include <gio/gio.h>
#include <gst/gst.h>

#include <array>
#include <string_view>

namespace castorn {

namespace cn = castorn_notification;

namespace {

bool Holds(const std::string& text, std::string_view part)
{
    return text.find(part) != std::string::npos;
}

// The GIO error behind the element's, from "domain g-io-error-quark, code 24".
struct CauseCode {
    std::string domain;
    int code = -1;
};

CauseCode Cause(const std::string& debug)
{
    const auto at = debug.rfind("domain ");
    if (at == std::string::npos) return {};
    const auto comma = debug.find(", code ", at);
    if (comma == std::string::npos) return {};
    CauseCode cause{debug.substr(at + 7, comma - at - 7), -1};
    try {
        cause.code = std::stoi(debug.substr(comma + 7));
    } catch (const std::exception&) {}
    return cause;
}

// What the RTMP client says when the server answers a command with an error or closes
// the connection in answer to one.
bool ServerAnswered(const std::string& text)
{
    constexpr std::array kMarks{"publish denied", "cmd failed", "cmd returned", "authentication failed",
                                "stream already exists"};
    for (const char* mark : kMarks)
        if (Holds(text, mark)) return true;
    return false;
}

// The server's own words: the "description" of its status object when it sent one.
std::string ServerText(const std::string& text)
{
    const std::string key = "\"description\": \"";
    const auto at = text.find(key);
    if (at != std::string::npos) {
        const auto end = text.find('"', at + key.size());
        if (end != std::string::npos) return text.substr(at + key.size(), end - at - key.size());
    }
    const std::string prefix = "Failed to connect: ";
    return text.rfind(prefix, 0) == 0 ? text.substr(prefix.size()) : text;
}

}  // namespace

Failure ClassifySenderError(const GError& error, const std::string& debug,
                            std::optional<std::chrono::milliseconds> sinceAccepted)
{
    const std::string text = error.message ? error.message : "unknown error";
    const CauseCode cause = Cause(debug);
    const bool resource = error.domain == GST_RESOURCE_ERROR;
    if (cause.domain == "g-tls-error-quark" || Holds(text, "TLS"))
        return {cn::kReasonTls, "the server's certificate does not check out: " + text};
    if (cause.domain == "g-resolver-error-quark") return {cn::kReasonUnresolved, text};
    if ((resource && error.code == GST_RESOURCE_ERROR_OPEN_READ) || Holds(text, "Connection refused"))
        return {cn::kReasonRefused, text};
    if ((cause.domain == "g-io-error-quark" && cause.code == G_IO_ERROR_TIMED_OUT) || Holds(text, "timed out"))
        return {cn::kReasonTimeout, text};
    if (ServerAnswered(text)) return {cn::kReasonRejected, "the server refused the publish: " + ServerText(text)};
    // An established connection that broke: soon after the publish, the server's way of saying no.
    if (resource && error.code == GST_RESOURCE_ERROR_WRITE) {
        if (!sinceAccepted || *sinceAccepted < kRefusalWindow)
            return {cn::kReasonRejected, "the server closed the connection right after the publish: " + text};
        return {cn::kReasonLost, text};
    }
    return {cn::kReasonOther, text};
}

bool AlreadyPublishing(const Failure& failure)
{
    return failure.reason == cn::kReasonRejected &&
           (Holds(failure.message, "Already publishing") || Holds(failure.message, "already publishing"));
}

}  // namespace castorn
