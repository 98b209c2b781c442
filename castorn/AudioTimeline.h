// Timestamps for a sound source on the clock that times the picture.
//
// A sound card (or a sound server's virtual microphone) runs on its own crystal: the
// test server's delivers 44109 samples per second of the system clock at a nominal
// 44100 Hz. Stamped as a count of samples at the nominal rate, its sound gains 12.7 ms
// a minute on the picture and nothing ever brings it back. This measures the source's
// true rate against the pipeline clock from when its buffers arrive, and stamps each
// buffer where its samples belong on that clock; the samples are then resampled to fill
// exactly that time, and the encoder's count of samples stays in step with the picture.
//
// Arrivals are late by the source's buffering and by whatever the scheduler and the
// sound server add under load, never early. The earliest arrival of every ten seconds is
// a point; the rate is fitted through the points of the last ten minutes, and the
// timestamps follow the lowest line at that rate under them, pulled towards it by at most
// 0.01 %: a delay that grows and shrinks with the load moves the sound by a few
// milliseconds, not by the delay. The sound is thus stamped when it could first be had,
// which is at most one buffer of the source after it was captured.
#pragma once

#include <cstdint>
#include <deque>

namespace castorn {

class AudioTimeline {
public:
    // Times in nanoseconds on the pipeline clock (running time).
    struct Stamp {
        std::int64_t pts;
        std::int64_t duration;
    };

    explicit AudioTimeline(int nominalRate);

    // A buffer of `samples` that the source stamped `sourcePts`, arriving at `arrival`;
    // `discont` when the source says samples were lost before it (its stamps tell how many).
    // The source's stamps are used for that and until the first point is in.
    Stamp Next(std::int64_t samples, std::int64_t sourcePts, std::int64_t arrival, bool discont);

    // The source's estimated rate, in clock seconds per nominal second.
    double ClockPerNominal() const { return 1 + m_slope; }

    // The earliest arrivals are gathered over this many nominal seconds into one point of the fit.
    static constexpr double kWindowSeconds = 10.0;
    // Points weigh less with age at this time constant (nominal seconds).
    static constexpr double kMemorySeconds = 600.0;
    // What a source delivers in its first seconds comes in bursts: it is not fitted.
    static constexpr double kWarmUpSeconds = 5.0;
    // The fitted rate is used once the points span this much; until then the nominal one.
    static constexpr double kSettleSeconds = 120.0;
    // No sound card is further off than this; a fit beyond it is noise.
    static constexpr double kMaxSkew = 0.001;
    // How fast the timestamps may be pulled towards the fit: a fraction of each duration.
    static constexpr double kMaxSlew = 0.0001;
    // A window whose earliest arrival is this much later than the fit was held up under load
    // and is left out, unless this many in a row are: then the delay has come to stay.
    static constexpr double kLateSeconds = 0.02;
    static constexpr int kLateWindowsIgnored = 12;

private:
    struct Point {
        double counted;  // nominal seconds
        double lead;     // the earliest (arrival - counted) of a window
    };

    void CloseWindow();
    double FitAt(double nominal) const;

    const double m_nominalRate;
    bool m_started = false;
    bool m_aligned = false;
    double m_next = 0;        // seconds: where the next buffer starts on the clock
    double m_counted = 0;     // nominal seconds of samples so far
    double m_sourceEnd = 0;   // seconds: where the source's stamps say the last buffer ended
    double m_windowEnd = 0;   // nominal seconds
    double m_windowLead = 0;  // the least (arrival - nominal) seen in this window
    bool m_windowOpen = false;
    // Exponentially weighted least squares of (arrival - nominal) against nominal: the rate.
    double m_w = 0, m_x = 0, m_y = 0, m_xx = 0, m_xy = 0;
    double m_slope = 0;
    std::deque<Point> m_points;  // of the last kMemorySeconds
    double m_floor = 0;          // the lowest line at that rate under the points
    int m_lateWindows = 0;
};

}  // namespace castorn
