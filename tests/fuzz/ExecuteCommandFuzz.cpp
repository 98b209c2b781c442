// The engine library's ExecuteCommand on any command text: it never writes past the
// caller's 1024 bytes, leaves a whole JSON reply in them, and copes with a caller
// that wants no reply. Input: the command text (up to its first NUL, as a C string).
#include "FuzzSupport.h"

#include "engine/EngineCommand.h"
#include "interface/EngineInterface.h"

#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

class SilentNotify : public ICastornNotify {
public:
    bool OnSecondCallback(std::int32_t, std::int32_t) override { return true; }
    bool OnThirdCallback(std::int32_t) override { return true; }
    bool OnFourthCallback(std::int32_t) override { return true; }
};

ICastorn& Engine()
{
    // No sound server and no display: selecting a player must not reroute anybody's sound.
    static ICastorn* const engine = [] {
        setenv("PULSE_SERVER", "unix:/nonexistent/tavisk-fuzz", 1);
        unsetenv("DISPLAY");
        static SilentNotify notify;
        return CreateCastorn(&notify);
    }();
    Require(engine != nullptr, "the engine can be created");
    return *engine;
}

constexpr char kUntouched = '\x5a';

void CheckReplyIntoBuffer(const char* command)
{
    // Exactly the caller's size on the heap, so that a write past it shows.
    const auto buffer = std::make_unique<char[]>(kCommandReplySize);
    std::memset(buffer.get(), kUntouched, kCommandReplySize);
    char* reply = buffer.get();
    Engine().ExecuteCommand(command, &reply);
    if (reply != buffer.get() || buffer[0] == kUntouched) return;  // answered elsewhere, or not at all
    const void* end = std::memchr(buffer.get(), '\0', kCommandReplySize);
    Require(end != nullptr, "a reply ends with a NUL within the caller's buffer");
    Json::Value document;
    Require(ParseJson(std::string_view(buffer.get(), static_cast<const char*>(end) - buffer.get()), document),
            "a reply is whole JSON");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string command(InputText(data, size));
    CheckReplyIntoBuffer(command.c_str());
    char* noBuffer = nullptr;
    Engine().ExecuteCommand(command.c_str(), &noBuffer);
    Engine().ExecuteCommand(command.c_str(), nullptr);
    return 0;
}
