#include "settings/DeviceChoices.h"

#include "platform/Profile.h"

#include <vector>

namespace {

constexpr char kSection[] = "devices";

struct Key {
    const char* name;
    std::string DeviceChoices::*field;
};

constexpr Key kKeys[] = {
    {"video", &DeviceChoices::video},
    {"audio", &DeviceChoices::audio},
    {"player", &DeviceChoices::player},
};

// The dialog's save writes this first, and its sections with it.
bool HoldsStreamSettings(const std::string& path)
{
    return !GetProfileString("Start", "first", "", path).empty();
}

}  // namespace

DeviceChoices ReadDeviceChoices(const std::string& path)
{
    DeviceChoices choices;
    for (const Key& key : kKeys) choices.*key.field = GetProfileString(kSection, key.name, "", path);
    return choices;
}

bool WriteDeviceChoices(const std::string& path, const DeviceChoices& choices)
{
    if (!HoldsStreamSettings(path)) return false;
    std::vector<ProfileEntry> entries;
    for (const Key& key : kKeys) entries.push_back({kSection, key.name, choices.*key.field});
    return WriteProfileStrings(path, entries);
}
