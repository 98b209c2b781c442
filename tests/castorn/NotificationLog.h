// The program's side of the engine's notifications, for tests: every message
// kept in order, with a way to wait for one.
#pragma once

#include "interface/EngineInterface.h"

#include <json/value.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

namespace castorn_test {

class NotificationLog : public ICastornNotify {
public:
    bool OnEngineMessage(const char* message) override;
    bool OnSecondCallback(std::int32_t, std::int32_t) override { return true; }
    bool OnThirdCallback(std::int32_t) override { return true; }
    bool OnFourthCallback(std::int32_t) override { return true; }

    // The params of the first message named `cmd` (about `source`, when one is given)
    // after the first `skip` of them; null when none came within `limit`.
    Json::Value WaitFor(const std::string& cmd, std::chrono::milliseconds limit, int skip = 0,
                        const std::string& source = {});
    int Count(const std::string& cmd, const std::string& source = {});
    Json::Value Last(const std::string& cmd);  // its params; null when none came
    std::vector<std::string> Texts();          // every message as it came

private:
    static bool Matches(const Json::Value& message, const std::string& cmd, const std::string& source);

    std::mutex m_mutex;
    std::condition_variable m_arrived;
    std::vector<std::string> m_texts;
    std::vector<Json::Value> m_messages;
};

}  // namespace castorn_test
