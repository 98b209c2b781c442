// The operator's last choice of devices and player, kept in set.ini's [devices]
// section by name (a position may stand for another device at the next start).
#pragma once

#include <string>

struct DeviceChoices {
    std::string video;  // narrow text, as set.ini holds every text
    std::string audio;
    std::string player;

    bool operator==(const DeviceChoices&) const = default;
};

// Empty names for what is not there.
DeviceChoices ReadDeviceChoices(const std::string& path);

// False, writing nothing, until the file holds the stream settings: [devices] comes
// after their sections.
bool WriteDeviceChoices(const std::string& path, const DeviceChoices& choices);
