#include "castorn/background/BackgroundAudio.h"

#include <utility>

namespace castorn {

std::vector<std::string> ListPlayers() { return {}; }

BackgroundAudio::BackgroundAudio(Notify notify) { (void)notify; }
BackgroundAudio::~BackgroundAudio() = default;
void BackgroundAudio::SelectPlayer(const std::string&) {}
void BackgroundAudio::Enable(bool) {}
std::string BackgroundAudio::StartCapture() { return {}; }
void BackgroundAudio::StopCapture() {}

}  // namespace castorn
