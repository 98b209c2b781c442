// Opens a capture source (a bin with a "src" pad) on a thread of its own, so that a
// device or sound server that does not answer holds up nothing else. An opener
// dropped while its attempt still runs leaves the attempt to finish and clean up
// by itself; AwaitAbandoned waits for such attempts before the engine goes.
#pragma once

#include <gst/gst.h>

#include <chrono>
#include <memory>
#include <optional>
#include <thread>

namespace castorn {

class SourceOpener {
public:
    explicit SourceOpener(GstElement* bin);  // takes the caller's full reference, as the pipeline's makers give
    ~SourceOpener();
    SourceOpener(const SourceOpener&) = delete;
    SourceOpener& operator=(const SourceOpener&) = delete;

    // nullopt while the attempt runs; then whether the source opened.
    std::optional<bool> Opened() const;
    // The opened source (paused, not live yet) with its reference; null unless Opened().
    GstElement* Take();

    // Up to `limit`, waits for the attempts of dropped openers to end; true when none runs.
    static bool AwaitAbandoned(std::chrono::milliseconds limit);

    struct Attempt;  // what the opener and its thread share

private:
    static void Run(std::shared_ptr<Attempt> attempt);

    std::shared_ptr<Attempt> m_attempt;
    std::thread m_thread;
};

}  // namespace castorn
