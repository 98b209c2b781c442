// Puts a sound source's samples on the pipeline clock as they pass a pad (see AudioTimeline).
#pragma once

#include <gst/gst.h>

namespace castorn {

// From here on, the interleaved F32 audio of `sampleRate` and `channels` passing `pad` is
// stamped where its samples belong on the clock of the element that owns `pad`, and
// resampled by the tiny amount that makes each buffer fill exactly its time on that clock.
void FollowPipelineClock(GstPad* pad, int sampleRate, int channels);

}  // namespace castorn
