// ExecuteCommand: engine commands as JSON text {"cmd": ..., "params": ...}.
// Encoder values (SetBframeCount, SetVBRQuality, SetAdaptiveBitrate {"Enabled": bool})
// are kept for the next StartPublish; the player list comes
// from the sound server; every reply fits the caller's buffer.
#pragma once

#include "castorn/StreamSettings.h"
#include "interface/EngineInterface.h"

#include <json/value.h>

#include <functional>
#include <string>
#include <vector>

namespace castorn {

class CommandProcessor {
public:
    struct Hooks {
        std::function<std::vector<std::string>()> listPlayers;    // UTF-8 names
        std::function<void(const std::string&)> selectPlayer;     // UTF-8 name
        std::function<void(bool, const std::string&)> setRecord;  // on, folder as the program's text
        std::function<void(ICastornPreview*, int, int)> setPreviewReceiver;  // receiver, largest size
    };

    explicit CommandProcessor(Hooks hooks) : m_hooks(std::move(hooks)) {}

    // `reply` is the caller's pointer to its buffer of `replySize` bytes; null, or
    // pointing to null, when the caller wants no reply.
    bool Execute(const char* command, char** reply, std::size_t replySize);

    EncoderSettings Encoder() const { return m_encoder; }

private:
    struct Outcome {
        bool ok;
        std::string reply;
    };

    Outcome Dispatch(const std::string& cmd, const Json::Value& params, std::size_t replySize);
    Outcome GetPlayerList(std::size_t replySize) const;
    Outcome SetInteger(const Json::Value& params, const char* name, int low, int high, int& target);
    Outcome SelectPlayerName(const Json::Value& params);
    Outcome SetAdaptiveBitrate(const Json::Value& params);
    Outcome SetRecord(const Json::Value& params);
    Outcome SetPreviewReceiver(const Json::Value& params);

    static Outcome Done();
    static Outcome Refused(const std::string& why);

    Hooks m_hooks;
    EncoderSettings m_encoder;
};

}  // namespace castorn
