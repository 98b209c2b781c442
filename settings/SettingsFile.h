// set.ini: the stream parameters, one key per field of PublishSettings.
#pragma once

#include "settings/PublishSettings.h"

#include <cstdint>
#include <string>
#include <string_view>

// Relative on purpose: the file of the current working directory at each call.
inline constexpr char kSettingsPath[] = "./set.ini";

// The go-on-air address is empty, please set the go-on-air address.
inline constexpr char kEmptyAddressMessage[] = "上麦地址为空,请设置上麦地址!";

// True only for exactly "True" or "true"; the default when the key is absent.
bool ReadProfileBool(const std::string& path, std::string_view section, std::string_view key, bool defaultValue);

// The dialog's reading: every key, absent keys giving the built-in defaults, an empty
// address accepted, bitrates in kbit/s as the file holds them.
void ReadDialogSettings(const std::string& path, PublishSettings& settings);

// The go-on-air reading: the address first; when it is empty, false, and every other
// field keeps its value. Otherwise every key as above, bitrates then in bit/s.
bool ReadOnAirSettings(const std::string& path, PublishSettings& settings);

// "Start" / "first" = "True", then every key in file order; all of them or, with
// false, none.
bool WriteSettingsFile(const std::string& path, const PublishSettings& settings);

// "record" / "m_bRecord" alone, as the main window's check box changes it.
bool WriteRecordSwitch(const std::string& path, bool on);

// Where recordings go when no folder is set: the user's videos folder
// (`xdg-user-dir VIDEOS`), else the home folder.
std::string DefaultRecordFolder();
// The folder set, or the default when none is.
std::string RecordFolder(const PublishSettings& settings);

// kbit/s to bit/s; a product beyond 32 bits gives the nearest limit.
std::int32_t ToBitsPerSecond(std::int32_t kbitsPerSecond);
