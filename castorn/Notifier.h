// Engine notifications to the program, as interface/EngineInterface.h documents
// them, one at a time whatever thread sends them. The stream key never leaves
// the engine in a notification.
#pragma once

#include "castorn/Failure.h"

#include <json/value.h>

#include <mutex>
#include <string>

class ICastornNotify;

namespace castorn {

class Notifier {
public:
    explicit Notifier(ICastornNotify* sink) : m_sink(sink) {}

    void Send(const std::string& cmd, const Json::Value& params);
    // OnPublishError; with `final` false the caller sends OnReconnecting next.
    void SendPublishError(const Failure& failure, bool final);
    void SendText(const std::string& json);  // a complete notification made elsewhere
    void SetSecret(std::string secret);      // masked in the texts of every later Send

private:
    ICastornNotify* m_sink;
    std::mutex m_mutex;
    std::string m_secret;
};

}  // namespace castorn
