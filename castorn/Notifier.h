// Engine notifications to the program: {"cmd": name, "params": {...}} as JSON
// text through ICastornNotify::OnEngineMessage, one at a time whatever thread
// sends them. The stream key never leaves the engine in a notification.
#pragma once

#include <json/value.h>

#include <mutex>
#include <string>

class ICastornNotify;

namespace castorn {

class Notifier {
public:
    explicit Notifier(ICastornNotify* sink) : m_sink(sink) {}

    void Send(const std::string& cmd, const Json::Value& params);
    void SendError(const std::string& message);  // kError with {"message": ...}
    void SendText(const std::string& json);  // a complete notification made elsewhere
    void SetSecret(std::string secret);      // masked in the texts of every later Send

    // Names of the notifications this engine sends.
    static constexpr const char* kAudioPercent = "OnAudioPercent";
    static constexpr const char* kConnecting = "OnConnecting";
    static constexpr const char* kConnected = "OnConnected";
    static constexpr const char* kDisconnected = "OnDisconnected";
    static constexpr const char* kReconnecting = "OnReconnecting";
    static constexpr const char* kStopped = "OnPublishStopped";
    static constexpr const char* kError = "OnPublishError";

private:
    ICastornNotify* m_sink;
    std::mutex m_mutex;
    std::string m_secret;
};

}  // namespace castorn
