#include "settings/StreamParameters.h"

#include "interface/EngineInterface.h"
#include "res/SettingDialogTemplate.h"
#include "settings/PublishAddress.h"
#include "settings/SettingsFile.h"

#include <QStringList>
#include <algorithm>
#include <iterator>

namespace p = castorn_parameter;

namespace {

constexpr int kKilo = 1000;

constexpr StreamParameter kParameters[] = {
    {p::kWidth, IDC_VIDEO_WIDTH, "宽度", "像素", &PublishSettings::m_iVdWidth, 1},
    {p::kHeight, IDC_VIDEO_HEIGHT, "高度", "像素", &PublishSettings::m_iVdHeight, 1},
    {p::kFps, IDC_VIDEO_FPS, "帧率", "fps", &PublishSettings::m_iVdFps, 1},
    {p::kVideoBitrate, IDC_VIDEO_BITRATE, "视频码率", "kbps", &PublishSettings::m_iVdBitRate, kKilo},
    {p::kKeyInterval, IDC_VIDEO_INTERVAL, "关键帧间隔", "帧 (frames)", &PublishSettings::m_iVdInterval, 1},
    {p::kSampleRate, IDC_AUDIO_SAMPLE_RATE, "采样率", "Hz", &PublishSettings::m_iAdSampleRate, 1},
    {p::kChannels, IDC_AUDIO_CHANNELS, "通道数", "", &PublishSettings::m_iAdChannels, 1},
    {p::kAudioBitrate, IDC_AUDIO_BITRATE, "音频码率", "kbps", &PublishSettings::m_iAdBitRate, kKilo},
};

const StreamParameter* Find(std::string_view field)
{
    const auto found = std::ranges::find_if(kParameters, [field](const auto& known) { return field == known.field; });
    return found == std::end(kParameters) ? nullptr : found;
}

// What the engine takes, in the field's units.
QString Takes(const StreamParameter& parameter)
{
    if (parameter.field == std::string_view(p::kSampleRate)) {
        QStringList rates;
        for (int rate : p::kSampleRates) rates << QString::number(rate);
        return rates.join(QString::fromUtf8("、"));
    }
    const p::Range& range = *p::RangeOf(parameter.field);
    return QString::fromUtf8("%1 到 %2")
        .arg(range.least / parameter.fileToEngine)
        .arg(range.most / parameter.fileToEngine);
}

}  // namespace

std::span<const StreamParameter> StreamParameters()
{
    return kParameters;
}

QString RefusedParameterText(std::string_view field, int engineValue)
{
    const StreamParameter* parameter = Find(field);
    if (!parameter) return QString::fromUtf8(std::string(field)) + ' ' + QString::number(engineValue);
    return QString::fromUtf8(parameter->name) + ' ' + QString::number(engineValue / parameter->fileToEngine);
}

QString ParameterHint(const StreamParameter& parameter, const PublishSettings& fileUnits)
{
    const std::int32_t value = fileUnits.*parameter.value;
    const std::int32_t engineValue = parameter.fileToEngine == 1 ? value : ToBitsPerSecond(value);
    if (p::Accepted(parameter.field, engineValue)) return {};
    // The tool tip lists every rate; the hint stays short.
    const QString takes =
        parameter.field == std::string_view(p::kSampleRate) ? QString::fromUtf8("44100 或 48000 等") : Takes(parameter);
    return QString::fromUtf8("%1 %2 无法推流，可用 %3").arg(QString::fromUtf8(parameter.name)).arg(value).arg(takes);
}

QString ParameterToolTip(const StreamParameter& parameter)
{
    const QString unit =
        *parameter.unit ? QString::fromUtf8("，单位 %1").arg(QString::fromUtf8(parameter.unit)) : QString();
    return QString::fromUtf8(parameter.name) + unit + QString::fromUtf8("；可用 ") + Takes(parameter);
}

QString AddressHint(std::string_view typed)
{
    if (typed.empty()) return {};
    PublishSettings split;
    SplitPublishAddress(typed, split);
    castorn_address::Parts parts;
    castorn_address::Refusal refusal{};
    if (castorn_address::Parse(split.m_strScheduleSvr, split.m_strPublishRoomInfo, split.m_strPublishStageInfo, parts,
                               refusal))
        return {};
    return QString::fromUtf8(refusal.reason == std::string_view(castorn_notification::kReasonNoStream)
                                 ? kNoStreamPhrase
                                 : kBadAddressPhrase);
}
