// Notifications as an engine may send them: any text is parsed, validated and routed
// or dropped, never read past its end, with nothing left behind. Input: the text.
#include "FuzzSupport.h"

#include "window/EngineNotifications.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text = InputText(data, size);
    const auto event = DispatchEngineMessage(text);
    // Blanks around a document change nothing in it.
    const std::string padded = " \n" + std::string(text) + "\n\t ";
    Require(DispatchEngineMessage(padded) == event, "blanks around a notification do not change what is read");
    return 0;
}
