#include "NotificationLog.h"

#include <json/reader.h>

#include <algorithm>
#include <memory>

namespace castorn_test {

bool NotificationLog::OnEngineMessage(const char* message)
{
    if (!message) return false;
    Json::Value parsed;
    Json::CharReaderBuilder builder;
    const std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    const std::string text(message);
    reader->parse(text.data(), text.data() + text.size(), &parsed, nullptr);
    {
        std::lock_guard lock(m_mutex);
        m_texts.push_back(text);
        m_messages.push_back(parsed);
    }
    m_arrived.notify_all();
    return true;
}

Json::Value NotificationLog::WaitFor(const std::string& cmd, std::chrono::milliseconds limit, int skip)
{
    std::unique_lock lock(m_mutex);
    Json::Value found;
    m_arrived.wait_for(lock, limit, [&] {
        int seen = 0;
        for (const auto& message : m_messages)
            if (message["cmd"].asString() == cmd && seen++ == skip) found = message["params"];
        return !found.isNull();
    });
    return found;
}

int NotificationLog::Count(const std::string& cmd)
{
    std::lock_guard lock(m_mutex);
    return static_cast<int>(std::count_if(m_messages.begin(), m_messages.end(), [&](const Json::Value& message) {
        return message["cmd"].asString() == cmd;
    }));
}

std::vector<std::string> NotificationLog::Names()
{
    std::lock_guard lock(m_mutex);
    std::vector<std::string> names;
    for (const auto& message : m_messages) names.push_back(message["cmd"].asString());
    return names;
}

std::vector<std::string> NotificationLog::Texts()
{
    std::lock_guard lock(m_mutex);
    return m_texts;
}

}  // namespace castorn_test
