// Notifications as an engine may send them: any text is parsed, validated and routed
// or dropped, never read past its end, with nothing left behind. Input: the text.
#include "FuzzSupport.h"

#include "window/EngineNotifications.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text = InputText(data, size);
    const NotificationRoute route = DispatchEngineMessage(text);
    // Blanks around a document change nothing in it.
    const std::string padded = " \n" + std::string(text) + "\n\t ";
    Require(DispatchEngineMessage(padded) == route, "blanks around a notification do not change its route");
    return 0;
}
