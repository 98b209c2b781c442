// "level" reports its values in a GValueArray, which GLib has deprecated.
#define GLIB_DISABLE_DEPRECATION_WARNINGS
#include "castorn/AudioLevel.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace castorn {

namespace {

constexpr double kFloorDb = -60.0;

}  // namespace

int PercentForDecibels(double decibels)
{
    if (std::isnan(decibels) || decibels <= kFloorDb) return 0;
    return static_cast<int>(std::lround(std::min(0.0, decibels) / -kFloorDb * 100.0 + 100.0));
}

std::optional<int> LevelPercent(GstMessage* message)
{
    if (GST_MESSAGE_TYPE(message) != GST_MESSAGE_ELEMENT) return std::nullopt;
    const GstStructure* report = gst_message_get_structure(message);
    if (!report || !gst_structure_has_name(report, "level")) return std::nullopt;
    const GValue* peaks = gst_structure_get_value(report, "peak");
    if (!peaks || !G_VALUE_HOLDS(peaks, G_TYPE_VALUE_ARRAY)) return std::nullopt;
    const GValueArray* channels = static_cast<const GValueArray*>(g_value_get_boxed(peaks));
    double loudest = -INFINITY;
    for (guint i = 0; channels && i < channels->n_values; ++i)
        loudest = std::max(loudest, g_value_get_double(g_value_array_get_nth(const_cast<GValueArray*>(channels), i)));
    return PercentForDecibels(loudest);
}

}  // namespace castorn
