// One capture source of the pipeline that may fail while on air: a camera or screen,
// the microphone, the background sound. Its media enters at a fixed pad. Black or
// silence feeds it from the start while the source is opened off this thread, as
// every later opening is: a device or server that hangs holds up nothing. When the
// source fails (or cannot be opened at all) the stand-in takes over from where it
// stopped, and the source is opened again every second until it comes back; the
// stand-in gives way only once the source has media to give. A source its user refused
// (a desktop's screen sharing) is not asked again until the next going on air. All on
// the thread that handles the pipeline's bus.
// A switch waits for the feed before to be idle at its pad (it may be pushing), unlinks
// it there and links the next, which is held at its own pad meanwhile; what fed before
// is stopped on a thread of its own, as a device may hang at stopping.
#pragma once

#include "castorn/FeedJoint.h"
#include "castorn/SourceOpener.h"

#include <gst/gst.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>

namespace castorn {

class FallbackSource {
public:
    // A new bin with a "src" pad (a full reference), or null with the reason in `why`.
    using SourceMaker = std::function<GstElement*(std::string& why)>;
    // A new bin with a "src" pad (a full reference) whose media starts at the running time `from`.
    using StandInMaker = std::function<GstElement*(GstClockTime from)>;
    // The source lost (with why; `refused`: by its user, for good), or back (why empty).
    using ChangeHandler = std::function<void(const std::string& why, bool refused)>;

    // Without a source the stand-in feeds the path for good, and nothing is told.
    FallbackSource(GstBin* pipeline, GstPad* joint, SourceMaker source, StandInMaker standIn, ChangeHandler onChange);
    ~FallbackSource();
    FallbackSource(const FallbackSource&) = delete;
    FallbackSource& operator=(const FallbackSource&) = delete;

    // Before the pipeline plays: the stand-in, and the source's first opening.
    void Build();
    // Its source's errors and ends (the stand-in takes over), and a source back with media
    // (taken at once); false for every other message.
    bool TakeMessage(GstMessage* message);
    // Tries again to open a lost source, and takes it back once it has media. Call it
    // often: it spaces its tries by kRetryPeriod.
    void Tend();
    // The pipeline is ending: a source that is back is no longer taken.
    void SetEnding();
    // Before the pipeline stops: what feeds the joint is taken out and stopped off this
    // thread when its pad is idle (a device may hang at stopping); one still pushing
    // goes with the pipeline, whose stop ends the push.
    void Withdraw();

    static constexpr std::chrono::milliseconds kRetryPeriod{1000};
    // How long a source that opened may take to deliver its first media.
    static constexpr std::chrono::milliseconds kFirstMediaLimit{5000};
    static constexpr std::chrono::milliseconds kStartQuiet{2000};
    // How long a source feeding the joint may give nothing before it counts as lost.
    static constexpr std::chrono::milliseconds kStallLimit{3000};

private:
    // Whether the source now feeding is or holds `object`, and is not the stand-in.
    bool SourceFeeds(GstObject* object) const;
    void Lose(const std::string& why);
    bool Stalled(std::chrono::steady_clock::time_point now);
    void Tell(const std::string& why);  // the source lost, once until it is back
    // The same for a source not yet fed: quiet for a moment after going on air, when a
    // source made for the occasion (the background sound's) may not be there yet.
    void TellOnce(const std::string& why);
    void Open();
    void Feed(GstElement* bin);
    // `bin`, in the pipeline and held at its pad by the probe `hold`, feeds the joint once
    // what feeds it now has been unlinked; null: nothing feeds it then.
    void SwitchTo(GstElement* bin, gulong hold);
    void FinishSwitch();  // the feed before is unlinked
    void Attach(GstElement* bin, gulong hold);
    // Out of the pipeline and stopped off this thread; it is unlinked and
    // what it still pushes goes nowhere.
    void Retire(GstElement* bin);
    GstElement* Feeding() const;  // what feeds the joint, or will once the switch is done
    void StartPending(GstElement* bin);
    void TakePending();
    void DropPending();
    static GstPadProbeReturn OnPendingMedia(GstPad* pad, GstPadProbeInfo* info, gpointer self);
    struct Unlinking;  // a switch under way, shared with the streaming thread that finishes it
    static GstPadProbeReturn OnIdle(GstPad* pad, GstPadProbeInfo* info, gpointer unlinking);
    GstClockTime RunningTimeNow() const;
    void Post(const char* news, std::uint64_t feed);  // to the bus, for TakeMessage

    GstBin* m_pipeline;
    SourceMaker m_source;
    StandInMaker m_standIn;
    ChangeHandler m_onChange;
    FeedJoint m_joint;
    GstElement* m_current = nullptr;  // owned by the pipeline
    GstElement* m_next = nullptr;     // held at its pad until m_current is unlinked; owned by the pipeline
    gulong m_nextHold = 0;
    std::shared_ptr<Unlinking> m_unlinking;  // while m_current is being unlinked
    std::uint64_t m_switches = 0;
    std::uint64_t m_feed = 0;
    bool m_lost = false;     // the stand-in feeds, the source is being opened
    bool m_told = false;     // the loss was told
    bool m_refused = false;  // its user said no: not opened again
    std::unique_ptr<SourceOpener> m_opener;
    std::chrono::steady_clock::time_point m_lastTry;
    std::chrono::steady_clock::time_point m_quietUntil;
    GstClockTime m_lastDelivered = GST_CLOCK_TIME_NONE;
    std::chrono::steady_clock::time_point m_deliveredAt;  // when m_lastDelivered last moved
    GstElement* m_pending = nullptr;  // playing, held at its pad until its media comes; owned by the pipeline
    gulong m_pendingHold = 0;
    std::atomic<bool> m_pendingHasMedia{false};
};

}  // namespace castorn
