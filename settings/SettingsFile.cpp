#include "settings/SettingsFile.h"

#include "platform/Profile.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <algorithm>
#include <limits>
#include <vector>

namespace {

template <typename T>
struct Key {
    const char* section;
    const char* name;
    T PublishSettings::*field;
};

// The file's keys in the order they are read and written.
constexpr Key<std::string> kServerKey = {"svr", "m_strScheduleSvr", &PublishSettings::m_strScheduleSvr};

constexpr Key<std::string> kTextKeys[] = {
    {"svr", "m_strPublishRoomInfo", &PublishSettings::m_strPublishRoomInfo},
    {"svr", "m_strPublishStageInfo", &PublishSettings::m_strPublishStageInfo},
    {"svr", "m_strUserID", &PublishSettings::m_strUserID},
    {"svr", "m_strKey", &PublishSettings::m_strKey},
};

constexpr Key<std::int32_t> kIntKeys[] = {
    {"video", "m_iVdFps", &PublishSettings::m_iVdFps},
    {"video", "m_iVdBitRate", &PublishSettings::m_iVdBitRate},
    {"video", "m_iVdWidth", &PublishSettings::m_iVdWidth},
    {"video", "m_iVdHeight", &PublishSettings::m_iVdHeight},
    {"video", "m_iVdQuality", &PublishSettings::m_iVdQuality},
    {"video", "m_iVdInterval", &PublishSettings::m_iVdInterval},
    {"video", "m_iBFrame", &PublishSettings::m_iBFrame},
    {"video", "m_iQuality", &PublishSettings::m_iQuality},
    {"audio", "m_iAdSampleRate", &PublishSettings::m_iAdSampleRate},
    {"audio", "m_iAdBitRate", &PublishSettings::m_iAdBitRate},
    {"audio", "m_iAdChannels", &PublishSettings::m_iAdChannels},
    {"audio", "m_iAdBitPerSample", &PublishSettings::m_iAdBitPerSample},
    {"audio", "m_iAdVolum", &PublishSettings::m_iAdVolum},
};

constexpr Key<bool> kBoolKeys[] = {
    {"audio", "m_bAdMute", &PublishSettings::m_bAdMute},
    {"audio", "m_bShowSpectrum", &PublishSettings::m_bShowSpectrum},
    {"network", "m_bAdaptiveBitrate", &PublishSettings::m_bAdaptiveBitrate},
};

// After every other section: a file of an older version keeps its order.
constexpr Key<bool> kRecordSwitchKey = {"record", "m_bRecord", &PublishSettings::m_bRecord};
constexpr Key<std::string> kRecordFolderKey = {"record", "m_strRecordDir", &PublishSettings::m_strRecordDir};

// The built-in defaults, one source for every reader.
const PublishSettings kDefaults{};

constexpr int kAskLimitMs = 2000;

const char* BoolText(bool value)
{
    return value ? "True" : "False";
}

// No default: an absent address reads as empty text.
std::string ReadScheduleServer(const std::string& path)
{
    return GetProfileString(kServerKey.section, kServerKey.name, "", path);
}

void ReadSettingsAfterServer(const std::string& path, PublishSettings& settings)
{
    for (const auto& key : kTextKeys)
        settings.*key.field = GetProfileString(key.section, key.name, kDefaults.*key.field, path);
    for (const auto& key : kIntKeys)
        settings.*key.field = GetProfileInt(key.section, key.name, kDefaults.*key.field, path);
    for (const auto& key : kBoolKeys)
        settings.*key.field = ReadProfileBool(path, key.section, key.name, kDefaults.*key.field);
    settings.*kRecordSwitchKey.field =
        ReadProfileBool(path, kRecordSwitchKey.section, kRecordSwitchKey.name, kDefaults.*kRecordSwitchKey.field);
    settings.*kRecordFolderKey.field = GetProfileString(kRecordFolderKey.section, kRecordFolderKey.name, "", path);
}

}  // namespace

bool ReadProfileBool(const std::string& path, std::string_view section, std::string_view key, bool defaultValue)
{
    const std::string text = GetProfileString(section, key, BoolText(defaultValue), path);
    return text == "True" || text == "true";
}

void ReadDialogSettings(const std::string& path, PublishSettings& settings)
{
    settings.m_strScheduleSvr = ReadScheduleServer(path);
    ReadSettingsAfterServer(path, settings);
}

bool ReadOnAirSettings(const std::string& path, PublishSettings& settings)
{
    settings.m_strScheduleSvr = ReadScheduleServer(path);
    if (settings.m_strScheduleSvr.empty()) return false;
    ReadSettingsAfterServer(path, settings);
    settings.m_iVdBitRate = ToBitsPerSecond(settings.m_iVdBitRate);
    settings.m_iAdBitRate = ToBitsPerSecond(settings.m_iAdBitRate);
    return true;
}

bool WriteSettingsFile(const std::string& path, const PublishSettings& settings)
{
    std::vector<ProfileEntry> entries{{"Start", "first", BoolText(true)}};
    const auto add = [&entries](const auto& key, std::string value) {
        entries.push_back({key.section, key.name, std::move(value)});
    };
    add(kServerKey, settings.*kServerKey.field);
    for (const auto& key : kTextKeys) add(key, settings.*key.field);
    for (const auto& key : kIntKeys) add(key, std::to_string(settings.*key.field));
    for (const auto& key : kBoolKeys) add(key, BoolText(settings.*key.field));
    add(kRecordSwitchKey, BoolText(settings.*kRecordSwitchKey.field));
    add(kRecordFolderKey, settings.*kRecordFolderKey.field);
    // The stream key lets anyone who reads it publish in the operator's name.
    return WriteProfileStrings(path, entries, !settings.m_strKey.empty());
}

bool WriteRecordSwitch(const std::string& path, bool on)
{
    const ProfileEntry entry{kRecordSwitchKey.section, kRecordSwitchKey.name, BoolText(on)};
    return WriteProfileStrings(path, std::span(&entry, 1));
}

std::string DefaultRecordFolder()
{
    QProcess ask;
    ask.start("xdg-user-dir", {"VIDEOS"});
    if (ask.waitForFinished(kAskLimitMs) && ask.exitStatus() == QProcess::NormalExit && ask.exitCode() == 0) {
        const QString folder = QString::fromLocal8Bit(ask.readAllStandardOutput()).trimmed();
        if (!folder.isEmpty() && QFileInfo(folder).isDir()) return folder.toLocal8Bit().toStdString();
    }
    return QDir::homePath().toLocal8Bit().toStdString();
}

std::string RecordFolder(const PublishSettings& settings)
{
    return settings.m_strRecordDir.empty() ? DefaultRecordFolder() : settings.m_strRecordDir;
}

std::int32_t ToBitsPerSecond(std::int32_t kbitsPerSecond)
{
    constexpr std::int64_t kBitsPerKbit = 1000;
    const std::int64_t bits = std::int64_t{kbitsPerSecond} * kBitsPerKbit;
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(bits, std::numeric_limits<std::int32_t>::min(),
                                                              std::numeric_limits<std::int32_t>::max()));
}
