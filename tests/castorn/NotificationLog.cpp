#include "NotificationLog.h"

#include <json/reader.h>

#include <algorithm>

namespace castorn_test {

bool NotificationLog::OnEngineMessage(const char* message)
{
    if (!message) return false;
    Json::Value parsed;
    Json::Reader().parse(message, parsed);
    {
        std::lock_guard lock(m_mutex);
        m_texts.emplace_back(message);
        m_messages.push_back(parsed);
    }
    m_arrived.notify_all();
    return true;
}

bool NotificationLog::Matches(const Json::Value& message, const std::string& cmd, const std::string& source)
{
    return message["cmd"].asString() == cmd && (source.empty() || message["params"]["source"].asString() == source);
}

Json::Value NotificationLog::WaitFor(const std::string& cmd, std::chrono::milliseconds limit, int skip,
                                     const std::string& source)
{
    std::unique_lock lock(m_mutex);
    Json::Value found;
    m_arrived.wait_for(lock, limit, [&] {
        int seen = 0;
        for (const auto& message : m_messages)
            if (Matches(message, cmd, source) && seen++ == skip) found = message["params"];
        return !found.isNull();
    });
    return found;
}

int NotificationLog::Count(const std::string& cmd, const std::string& source)
{
    std::lock_guard lock(m_mutex);
    return static_cast<int>(
        std::ranges::count_if(m_messages, [&](const Json::Value& message) { return Matches(message, cmd, source); }));
}

Json::Value NotificationLog::Last(const std::string& cmd)
{
    std::lock_guard lock(m_mutex);
    for (auto message = m_messages.rbegin(); message != m_messages.rend(); ++message)
        if (Matches(*message, cmd, {})) return (*message)["params"];
    return Json::Value();
}

std::vector<std::string> NotificationLog::Texts()
{
    std::lock_guard lock(m_mutex);
    return m_texts;
}

}  // namespace castorn_test
