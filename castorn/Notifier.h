// Engine notifications to the program, as interface/EngineInterface.h documents
// them, one at a time and in order whatever thread sends them. The program is
// called with no lock of the engine's held, so its handler may call the engine.
// The stream key never leaves the engine in a notification.
#pragma once

#include "castorn/Failure.h"

#include <json/value.h>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

class ICastornNotify;

namespace castorn {

class Notifier {
public:
    explicit Notifier(ICastornNotify* sink) : m_sink(sink) {}
    ~Notifier() { Close(); }
    Notifier(const Notifier&) = delete;
    Notifier& operator=(const Notifier&) = delete;

    void Send(const std::string& cmd, const Json::Value& params);
    // OnPublishError; with `final` false the caller sends OnReconnecting next.
    void SendPublishError(const Failure& failure, bool final);
    void SendText(const std::string& json);  // a complete notification made elsewhere
    void SetSecret(std::string secret);      // masked in the texts of every later Send
    // Nothing reaches the program once this returns; it waits for a notification being
    // handled on another thread, not for one the calling thread is handling.
    void Close();

private:
    ICastornNotify* m_sink;
    std::mutex m_mutex;
    std::condition_variable m_idle;
    std::string m_secret;
    std::deque<std::string> m_queue;  // sent while another thread was delivering
    bool m_closed = false;
    bool m_delivering = false;
    std::thread::id m_deliverer;
};

}  // namespace castorn
