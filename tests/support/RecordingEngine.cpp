#include "support/RecordingEngine.h"

#include "engine/EngineLoader.h"

#include <cstring>
#include <sstream>

RecordingEngineConfig RecordingEngine::next;
std::vector<std::string> RecordingEngine::calls;
int RecordingEngine::created = 0;
int RecordingEngine::released = 0;
ICastornNotify* RecordingEngine::lastNotify = nullptr;

void RecordingEngine::Reset()
{
    next = {};
    calls.clear();
    created = released = 0;
    lastNotify = nullptr;
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

bool RecordingEngine::Record(std::string call)
{
    calls.push_back(std::move(call));
    return true;
}

namespace {

// "Name a b c", the way the tests write the calls they expect.
template <typename... Args>
std::string Call(const char* name, const Args&... args)
{
    std::ostringstream text;
    text << std::boolalpha << name;
    ((text << ' ' << args), ...);
    return text.str();
}

std::string Quoted(const char* text)
{
    return std::string("[") + text + "]";
}

}  // namespace

bool RecordingEngine::ExecuteCommand(const char* command, char** reply)
{
    Record(std::string("ExecuteCommand ") + command);
    if (m_config.replyOfOwn) {
        *reply = m_config.replyOfOwn->data();
    } else {
        const std::size_t size = std::min(m_config.reply.size(), kCommandReplySize);
        std::memcpy(*reply, m_config.reply.data(), size);
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

bool RecordingEngine::StopPublish()
{
    return Record("StopPublish");
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

bool RecordingEngine::SelectVideoDevice(int index)
{
    return Record(Call("SelectVideoDevice", index));
}
bool RecordingEngine::SelectAudioDevice(int index)
{
    return Record(Call("SelectAudioDevice", index));
}
bool RecordingEngine::Reserved8()
{
    return Record("Reserved8");
}

bool RecordingEngine::SetAudioParams(int sampleRate, int channels, int bitsPerSample, int bitrate, int volume,
                                     bool mute)
{
    return Record(Call("SetAudioParams", sampleRate, channels, bitsPerSample, bitrate, volume, mute));
}

bool RecordingEngine::SetVideoParams(int width, int height, int fps, int bitrate, WindowHandle frame, int interval)
{
    return Record(Call("SetVideoParams", width, height, fps, bitrate, frame ? "window" : "none", interval));
}

bool RecordingEngine::SetPublishAddress(const char* server, const char* app, const char* stream)
{
    return Record(Call("SetPublishAddress", Quoted(server), Quoted(app), Quoted(stream)));
}

bool RecordingEngine::Reserved12()
{
    return Record("Reserved12");
}
bool RecordingEngine::SetAuxParams(int a, int b)
{
    return Record(Call("SetAuxParams", a, b));
}

bool RecordingEngine::GetNameList(std::vector<std::string>& names)
{
    names.assign({"unused"});
    return Record("GetNameList");
}

bool RecordingEngine::Reserved15()
{
    return Record("Reserved15");
}
bool RecordingEngine::EnableBackgroundAudio(bool on)
{
    return Record(Call("EnableBackgroundAudio", on));
}
bool RecordingEngine::SetBackgroundAudioOption(int option)
{
    return Record(Call("SetBackgroundAudioOption", option));
}
bool RecordingEngine::Reserved18()
{
    return Record("Reserved18");
}
bool RecordingEngine::Reserved19()
{
    return Record("Reserved19");
}
bool RecordingEngine::SetUserId(const char* userId)
{
    return Record(Call("SetUserId", Quoted(userId)));
}
