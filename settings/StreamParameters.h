// The stream parameters as the operator sees them: the settings dialog's fields, their
// names and units, and which values the engine refuses at going on air.
#pragma once

#include "settings/PublishSettings.h"

#include <QString>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

struct StreamParameter {
    const char* field;  // as castorn_parameter names it
    int controlId;      // the settings dialog's field
    const char* name;
    const char* unit;
    std::int32_t PublishSettings::*value;  // in the file's units
    int fileToEngine;                      // the file holds kbit/s where the engine takes bit/s
};

std::span<const StreamParameter> StreamParameters();

// "帧率 -5": a value the engine refused, as the operator typed it.
QString RefusedParameterText(std::string_view field, int engineValue);

// What the field's value would meet at going on air: empty when the engine takes it.
QString ParameterHint(const StreamParameter& parameter, const PublishSettings& fileUnits);

// The field's tool tip: its unit and the values the engine takes.
QString ParameterToolTip(const StreamParameter& parameter);

// The status's words for the publish address problems.
inline constexpr char kNoStreamPhrase[] = "地址缺少流名称";
inline constexpr char kBadAddressPhrase[] = "地址格式不对";

// The phrase for what the engine would refuse in the address as typed; empty when it
// would take it, and for an empty text, which has a message of its own.
QString AddressHint(std::string_view typed);
