// The publish address as typed: the split reads only its input, its parts come from
// the input, and for an address with a scheme the join shown in the dialog splits
// back into the same parts. Input: the address's bytes; the same bytes are also taken
// as UTF-16 typed into the dialog's field.
#include "FuzzSupport.h"

#include "platform/TextConversion.h"
#include "interface/EngineInterface.h"
#include "settings/PublishAddress.h"

#include <clocale>

namespace {

const std::string kDefaultPort = ':' + std::to_string(kDefaultRtmpPort);

bool HasScheme(std::string_view address)
{
    return address.find("//") != std::string_view::npos;
}

void RequireSplitOfInput(std::string_view address, const PublishSettings& parts)
{
    std::string_view server = parts.m_strScheduleSvr;
    if (server.ends_with(kDefaultPort) && server.find(':') == server.size() - kDefaultPort.size())
        server.remove_suffix(kDefaultPort.size());
    Require(address.starts_with(server), "the server is the address's beginning, or that and the default port");
    Require(address.find(parts.m_strPublishRoomInfo) != std::string_view::npos,
            "the application is part of the address");
    Require(address.ends_with(parts.m_strPublishStageInfo), "the stream name is the address's end");
}

PublishSettings CheckAddress(std::string_view address)
{
    PublishSettings parts;
    SplitPublishAddress(address, parts);
    if (address.empty()) {
        Require(parts == PublishSettings{}, "an empty address leaves the record as it was");
        return parts;
    }
    RequireSplitOfInput(address, parts);
    if (!HasScheme(address)) return parts;
    PublishSettings again = parts;
    SplitPublishAddress(JoinPublishAddress(parts), again);
    Require(again == parts, "the join of a split splits into the same parts");
    return parts;
}

// The dialog's path: field text to narrow text, split, and the join shown again.
void CheckTypedAddress(std::string_view bytes)
{
    std::u16string typed(bytes.size() / 2, u'\0');
    const auto byte = [bytes](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
    for (std::size_t i = 0; i < typed.size(); ++i) typed[i] = static_cast<char16_t>(byte(2 * i) | byte(2 * i + 1) << 8);
    AnsiToWide(JoinPublishAddress(CheckAddress(WideToAnsi(typed))));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const bool locale = std::setlocale(LC_ALL, "C.UTF-8") != nullptr;
    Require(locale, "the UTF-8 locale exists");
    const std::string_view address = InputText(data, size);
    CheckAddress(address);
    CheckTypedAddress(address);
    return 0;
}
