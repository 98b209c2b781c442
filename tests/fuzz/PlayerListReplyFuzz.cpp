// The engine's reply to "GetPlayerList" as the window reads it: whatever the engine
// leaves in the 1024-byte buffer, a whole buffer without a NUL included. Input: the
// bytes the engine writes, terminated when they fit.
#include "FuzzSupport.h"

#include "engine/EngineCommand.h"
#include "engine/ReplyBuffer.h"

#include <algorithm>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view written = InputText(data, std::min(size, kCommandReplySize));
    ReplyBuffer buffer;
    char* storage = *buffer.Address();
    std::memcpy(storage, written.data(), written.size());
    if (written.size() < kCommandReplySize) storage[written.size()] = '\0';
    const std::string reply = buffer.Text();
    Require(reply == written.substr(0, written.find('\0')), "the reply is the buffer up to its first NUL or its end");

    std::vector<std::string> players;
    if (!ReadPlayerListReply(reply, players)) Require(players.empty(), "a reply that is not JSON gives no players");
    return 0;
}
