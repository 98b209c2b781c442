// Opens a capture source (a bin with a "src" pad) on a thread of its own, so that a
// device or sound server that does not answer holds up nothing else. An opener
// dropped while its attempt still runs leaves the attempt to finish and clean up
// by itself, as lingering work (castorn/LingeringWork.h) the engine waits for before it goes.
#pragma once

#include <gst/gst.h>

#include <memory>
#include <optional>
#include <string>

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
    // Why it did not open, as the source said; once Opened() is false.
    std::string Error() const;
    // It did not open because its user said no (GST_RESOURCE_ERROR_NOT_AUTHORIZED): asking
    // again at once would only ask the user again.
    bool Refused() const;

    struct Attempt;  // what the opener and its thread share

private:
    static void Run(const std::shared_ptr<Attempt>& attempt);

    std::shared_ptr<Attempt> m_attempt;
};

}  // namespace castorn
