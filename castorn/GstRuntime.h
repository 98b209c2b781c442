// GStreamer for the engines of this process: initialised once, its plugins
// loaded ahead of the first StartPublish so that going on air does not wait
// for them.
#pragma once

#include <string>

namespace castorn {

// false with the reason when GStreamer cannot be initialised.
bool InitGstreamer(std::string& why);

// Loads the plugins a publication uses; slow the first time, call it off the caller's thread.
void PreloadPlugins();

}  // namespace castorn
