#include "castorn/Notifier.h"

#include "castorn/text/JsonText.h"
#include "interface/EngineInterface.h"

namespace castorn {

namespace {

void MaskAll(std::string& text, const std::string& secret)
{
    if (secret.empty()) return;
    for (auto at = text.find(secret); at != std::string::npos; at = text.find(secret, at + 3))
        text.replace(at, secret.size(), "***");
}

}  // namespace

void Notifier::Send(const std::string& cmd, const Json::Value& params)
{
    Json::Value masked = params.isObject() ? params : Json::Value(Json::objectValue);
    {
        std::lock_guard lock(m_mutex);
        for (const auto& name : masked.getMemberNames()) {
            Json::Value& member = masked[name];
            if (!member.isString()) continue;
            std::string text = member.asString();
            MaskAll(text, m_secret);
            member = text;
        }
    }
    SendText(NotificationText(cmd, masked));
}

void Notifier::SendPublishError(const Failure& failure, bool final)
{
    Json::Value params(Json::objectValue);
    params["reason"] = failure.reason;
    params["message"] = failure.message;
    params["final"] = final;
    if (!failure.field.empty()) {
        params["field"] = failure.field;
        params["value"] = failure.value;
    }
    Send(castorn_notification::kPublishError, params);
}

void Notifier::SendText(const std::string& json)
{
    std::lock_guard lock(m_mutex);
    if (m_sink) m_sink->OnEngineMessage(json.c_str());
}

void Notifier::SetSecret(std::string secret)
{
    std::lock_guard lock(m_mutex);
    m_secret = std::move(secret);
}

}  // namespace castorn
