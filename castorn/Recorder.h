// The copy of what is streamed: while recording is asked for and the engine is on
// air, what the encoders give goes to a file as well, whatever the connection does.
// A file is ended, then made an ordinary MP4, on a thread of its own.
// On the engine loop's thread.
#pragma once

#include "castorn/RecordingFile.h"

#include <chrono>
#include <memory>
#include <string>

namespace castorn {

class BusWatch;
class CapturePipeline;
class EngineLoop;
class Notifier;

class Recorder {
public:
    // The notifier is shared with the work that makes a finished file an ordinary MP4,
    // which may end after the recorder.
    Recorder(EngineLoop& loop, std::shared_ptr<Notifier> notifier);
    ~Recorder();
    Recorder(const Recorder&) = delete;
    Recorder& operator=(const Recorder&) = delete;

    // Kept for every later going on air; on air, a recording begins or ends now.
    void Configure(bool on, std::string folder);
    // The capture on air, from when it plays; null when it is about to go.
    void Attach(CapturePipeline* capture);

    // How long the end of a file may take to be written.
    static constexpr std::chrono::milliseconds kFinishLimit{3000};

private:
    void Begin();
    void End();
    void OnMessage(GstMessage* message);

    EngineLoop& m_loop;
    std::shared_ptr<Notifier> m_notifier;
    bool m_on = false;
    std::string m_folder;
    CapturePipeline* m_capture = nullptr;
    std::shared_ptr<RecordingFile> m_file;
    std::unique_ptr<BusWatch> m_watch;
};

}  // namespace castorn
