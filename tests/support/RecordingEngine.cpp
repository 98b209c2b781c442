#include "support/RecordingEngine.h"

#include "engine/EngineLoader.h"

#include <json/reader.h>

#include <cstring>

RecordingEngineConfig RecordingEngine::next;
std::vector<std::string> RecordingEngine::calls;
int RecordingEngine::created = 0;
int RecordingEngine::released = 0;
ICastornNotify* RecordingEngine::lastNotify = nullptr;
ICastornPreview* RecordingEngine::previewReceiver = nullptr;

void RecordingEngine::Reset()
{
    next = {};
    calls.clear();
    created = released = 0;
    lastNotify = nullptr;
    previewReceiver = nullptr;
}

ICastorn* RecordingEngine::Create(ICastornNotify* notify)
{
    calls.push_back("CreateCastorn");
    if (next.createFails) return nullptr;
    ++created;
    lastNotify = notify;
    return new RecordingEngine(next, notify);
}

void RecordingEngine::Install()
{
    Reset();
    engine_link::SetFactories(&RecordingEngine::Create, nullptr);
}

void RecordingEngine::Uninstall()
{
    engine_link::SetFactories(nullptr, nullptr);
}

bool RecordingEngine::ExecuteCommand(const char* command, char** reply)
{
    // The receiver's address differs from run to run: it is kept, and its size recorded.
    Json::Value parsed;
    if (Json::Reader().parse(command, parsed) && parsed["cmd"] == kSetPreviewReceiverCommand) {
        const Json::Value& params = parsed["params"];
        previewReceiver =
            reinterpret_cast<ICastornPreview*>(static_cast<std::uintptr_t>(params["receiver"].asUInt64()));
        Record("ExecuteCommand", kSetPreviewReceiverCommand, params["width"].asInt(), params["height"].asInt());
    } else {
        Record("ExecuteCommand", command);
    }
    if (m_config.replyOfOwn) {
        *reply = m_config.replyOfOwn->data();
    } else {
        const std::string& text = m_config.replyFollowsNext ? next.reply : m_config.reply;
        const std::size_t size = std::min(text.size(), kCommandReplySize);
        std::memcpy(*reply, text.data(), size);
        if (size < kCommandReplySize) (*reply)[size] = '\0';
    }
    return m_config.commandResult;
}

bool RecordingEngine::StartPublish()
{
    Record("StartPublish");
    for (const std::string& text : m_config.startNotifications) m_notify->OnEngineMessage(text.c_str());
    return true;
}

void RecordingEngine::Release()
{
    Record("Release");
    ++released;
    delete this;
}

bool RecordingEngine::Devices(const std::vector<std::u16string>& source, const char16_t*** names, unsigned* count)
{
    m_names.clear();
    for (const auto& name : source) m_names.push_back(name.c_str());
    *names = m_config.nullNameArrays ? nullptr : m_names.data();
    *count = static_cast<unsigned>(source.size());
    return true;
}

bool RecordingEngine::GetVideoDevices(const char16_t*** names, unsigned* count)
{
    Record("GetVideoDevices");
    return Devices(m_config.video, names, count);
}

bool RecordingEngine::GetAudioDevices(const char16_t*** names, unsigned* count)
{
    Record("GetAudioDevices");
    return Devices(m_config.audio, names, count);
}

bool RecordingEngine::GetNameList(std::vector<std::string>& names)
{
    names.assign({"unused"});
    return Record("GetNameList");
}
