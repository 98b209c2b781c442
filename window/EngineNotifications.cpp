#include "window/EngineNotifications.h"

#include "engine/EngineCommand.h"
#include "interface/EngineInterface.h"
#include "window/MainDialog.h"

#include <algorithm>
#include <array>
#include <utility>

namespace n = castorn_notification;

namespace {

constexpr int kPercentMax = 100;

// The name as text; empty for what cannot be a name.
std::string CommandName(const Json::Value& document)
{
    const Json::Value& cmd = document["cmd"];
    return (cmd.isArray() || cmd.isObject()) ? std::string() : cmd.asString();
}

std::optional<EngineEventKind> KindOf(const std::string& name)
{
    static const std::array<std::pair<const char*, EngineEventKind>, 13> kinds = {{
        {n::kAudioPercent, EngineEventKind::AudioPercent},
        {n::kConnecting, EngineEventKind::Connecting},
        {n::kConnected, EngineEventKind::Connected},
        {n::kStatistics, EngineEventKind::Statistics},
        {n::kDisconnected, EngineEventKind::Disconnected},
        {n::kReconnecting, EngineEventKind::Reconnecting},
        {n::kPublishError, EngineEventKind::PublishError},
        {n::kPublishStopped, EngineEventKind::PublishStopped},
        {n::kSourceLost, EngineEventKind::SourceLost},
        {n::kSourceBack, EngineEventKind::SourceBack},
        {n::kRecordingStarted, EngineEventKind::RecordingStarted},
        {n::kRecordingStopped, EngineEventKind::RecordingStopped},
        {n::kRecordingFailed, EngineEventKind::RecordingFailed},
    }};
    const auto found = std::ranges::find_if(kinds, [&](const auto& kind) { return name == kind.first; });
    if (found == kinds.end()) return std::nullopt;
    return found->second;
}

std::optional<CaptureSource> SourceOf(const Json::Value& source)
{
    if (!source.isString()) return std::nullopt;
    const std::string text = source.asString();
    if (text == n::kSourceVideo) return CaptureSource::Video;
    if (text == n::kSourceAudio) return CaptureSource::Audio;
    if (text == n::kSourceBackground) return CaptureSource::Background;
    return std::nullopt;
}

// Members the window reads: a wrong type drops the notification, an absent optional
// one keeps its default. Numbers must be whole and in range.
class ParamsReader {
public:
    explicit ParamsReader(const Json::Value& params) : m_params(params) {}
    bool ok() const { return m_ok; }

    void Count(const char* name, std::int64_t& value, bool required)
    {
        const Json::Value& member = m_params[name];
        if (member.isNull() && !required) return;
        if (!member.isInt64() || member.asInt64() < 0) {
            m_ok = false;
            return;
        }
        value = member.asInt64();
    }
    void Count(const char* name, int& value, bool required)
    {
        std::int64_t wide = value;
        Count(name, wide, required);
        if (wide > INT32_MAX) m_ok = false;
        value = static_cast<int>(wide);
    }
    void Number(const char* name, int& value)
    {
        const Json::Value& member = m_params[name];
        if (member.isNull()) return;
        if (member.isInt())
            value = member.asInt();
        else
            m_ok = false;
    }
    void Text(const char* name, std::string& value)
    {
        Optional(name, value, &Json::Value::isString, &Json::Value::asString);
    }
    void Flag(const char* name, bool& value) { Optional(name, value, &Json::Value::isBool, &Json::Value::asBool); }
    void Source(CaptureSource& value)
    {
        const auto source = SourceOf(m_params["source"]);
        if (!source)
            m_ok = false;
        else
            value = *source;
    }

private:
    template <typename T>
    void Optional(const char* name, T& value, bool (Json::Value::*holds)() const, T (Json::Value::*as)() const)
    {
        const Json::Value& member = m_params[name];
        if (member.isNull()) return;
        if ((member.*holds)())
            value = (member.*as)();
        else
            m_ok = false;
    }

    const Json::Value& m_params;
    bool m_ok = true;
};

void ReadFailure(ParamsReader& reader, EngineEvent& event)
{
    event.reason = n::kReasonOther;
    reader.Text("reason", event.reason);
    reader.Text("message", event.message);
}

bool ReadParams(const Json::Value& params, EngineEvent& event)
{
    ParamsReader reader(params);
    switch (event.kind) {
    case EngineEventKind::AudioPercent:
        reader.Count("percent", event.percent, true);
        return reader.ok() && event.percent <= kPercentMax;
    case EngineEventKind::Connecting: reader.Count("attempt", event.attempt, false); break;
    case EngineEventKind::Statistics:
        reader.Count("liveMs", event.liveMs, true);
        reader.Count("kbps", event.kbps, true);
        reader.Count("framesSent", event.framesSent, false);
        reader.Count("framesDropped", event.framesDropped, false);
        reader.Count("bytesQueued", event.bytesQueued, false);
        reader.Count("videoKbps", event.videoKbps, false);
        reader.Count("videoKbpsSet", event.videoKbpsSet, false);
        reader.Count("backlogMs", event.backlogMs, false);
        reader.Flag("congested", event.congested);
        break;
    case EngineEventKind::Reconnecting:
        reader.Count("attempt", event.attempt, true);
        reader.Count("delayMs", event.delayMs, true);
        ReadFailure(reader, event);
        break;
    case EngineEventKind::PublishError:
        reader.Flag("final", event.final);
        reader.Text("field", event.field);
        reader.Number("value", event.value);
        [[fallthrough]];
    case EngineEventKind::Disconnected: ReadFailure(reader, event); break;
    case EngineEventKind::SourceLost:
        reader.Text("message", event.message);
        reader.Text("reason", event.reason);
        [[fallthrough]];
    case EngineEventKind::SourceBack:
        reader.Source(event.source);
        reader.Text("name", event.name);
        break;
    case EngineEventKind::RecordingFailed: ReadFailure(reader, event); [[fallthrough]];
    case EngineEventKind::RecordingStarted:
    case EngineEventKind::RecordingStopped: reader.Text("path", event.path); return reader.ok() && !event.path.empty();
    case EngineEventKind::Connected:
    case EngineEventKind::PublishStopped: break;
    }
    return reader.ok();
}

}  // namespace

std::optional<EngineEvent> DispatchEngineMessage(std::string_view text)
{
    Json::Value document;
    if (!ParseJson(text, document) || !document.isObject()) return std::nullopt;
    const auto kind = KindOf(CommandName(document));
    const Json::Value& params = document["params"];
    if (!kind || !params.isObject()) return std::nullopt;
    EngineEvent event;
    event.kind = *kind;
    if (!ReadParams(params, event)) return std::nullopt;
    return event;
}

// Runs on engine threads: it reads the text and hands what it found to the window's
// thread, never waiting for it.
bool Cpublish_taviskDlg::OnEngineMessage(const char* message)
{
    if (!message) return false;
    if (auto event = DispatchEngineMessage(message)) m_handoff.Push(std::move(*event));
    return true;
}

bool Cpublish_taviskDlg::OnSecondCallback(std::int32_t, std::int32_t)
{
    return true;
}

bool Cpublish_taviskDlg::OnThirdCallback(std::int32_t)
{
    return true;
}

bool Cpublish_taviskDlg::OnFourthCallback(std::int32_t)
{
    return true;
}

bool Cpublish_taviskDlg::OnPreviewCallback(std::int32_t, std::int32_t, std::int32_t)
{
    return true;
}
