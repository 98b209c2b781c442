// A player program's sound, routed on the sound server so that the publishing
// pipeline can capture it beside the microphone, while the operator still hears it.
//
// Player names are UTF-8, as the sound server gives them; the engine converts
// them at the boundary of its messages. A name that went through a locale that
// cannot hold it ("???") still selects the player it came from.
//
// Its state goes to the program as OnBackgroundAudio (interface/EngineInterface.h).
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace castorn {

class CaptureThread;

// Names of the applications playing sound now, in the sound server's order;
// empty when no sound server answers.
std::vector<std::string> ListPlayers();

class BackgroundAudio {
public:
    // Receives status notifications as complete JSON texts, from any thread.
    // It must not call back into this object before returning.
    using Notify = std::function<void(const std::string& json)>;

    explicit BackgroundAudio(Notify notify);
    ~BackgroundAudio();  // leaves nothing of ours behind on the sound server
    BackgroundAudio(const BackgroundAudio&) = delete;
    BackgroundAudio& operator=(const BackgroundAudio&) = delete;

    void SelectPlayer(const std::string& name);
    void Enable(bool on);  // kept until capture starts; effective within half a second

    // When publishing starts: has the capture point made, without waiting, and returns
    // the sound server's source name for the pipeline to record (pulsesrc device=...),
    // under which it is made soon after, or once a sound server answers.
    std::string StartCapture();
    void StopCapture();  // undoes every route and module it set up, without waiting

private:
    std::unique_ptr<CaptureThread> m_thread;
};

}  // namespace castorn
