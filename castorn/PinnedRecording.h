// A sound server gives a recording whose source is missing, or goes away, another
// source instead: PulseAudio moves it to the default microphone when its source
// goes; PipeWire links it to a default from the start (the speakers' monitor for a
// monitor) and moves it when its source goes. That would put other sound in the
// stream without a word: the microphone a second time in place of the background
// sound, another source in place of a microphone unplugged. A pinned recording fails
// instead, so that the stand-in takes over and the source is tried again.
#pragma once

#include <gst/gst.h>

namespace castorn {

// `recorder` is a pulsesrc, its device set; before it opens. Its stream properties are kept.
void PinRecording(GstElement* recorder);

}  // namespace castorn
