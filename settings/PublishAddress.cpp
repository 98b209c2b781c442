#include "settings/PublishAddress.h"

#include "interface/EngineInterface.h"

#include <string>

namespace {

constexpr std::string_view kSchemeSeparator = "//";
constexpr char kPathSeparator = '/';
constexpr char kPortSeparator = ':';
constexpr auto npos = std::string_view::npos;

}  // namespace

void SplitPublishAddress(std::string_view address, PublishSettings& settings)
{
    if (address.empty()) return;
    const std::size_t scheme = address.find(kSchemeSeparator);
    // Without "//" the split falls after the first character.
    const std::size_t split = scheme == npos ? 1 : scheme + kSchemeSeparator.size();
    const std::string_view rest = address.substr(split);
    const std::size_t host = rest.find(kPathSeparator);
    const std::size_t app = host == npos ? npos : rest.find(kPathSeparator, host + 1);

    settings.m_strScheduleSvr = std::string(address.substr(0, split)) + std::string(rest.substr(0, host));
    // The scheme's own colon counts: only a server typed without one gets the default port.
    if (settings.m_strScheduleSvr.find(kPortSeparator) == std::string::npos)
        settings.m_strScheduleSvr += kPortSeparator + std::to_string(kDefaultRtmpPort);
    settings.m_strPublishRoomInfo = std::string(host == npos ? rest : rest.substr(host + 1, app - host - 1));
    settings.m_strPublishStageInfo = std::string(app == npos ? rest : rest.substr(app + 1));
}

std::string JoinPublishAddress(const PublishSettings& settings)
{
    return settings.m_strScheduleSvr + kPathSeparator + settings.m_strPublishRoomInfo + kPathSeparator +
           settings.m_strPublishStageInfo;
}
