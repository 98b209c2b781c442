// Sound sources whose true rate is not the nominal one, simulated buffer by buffer: the
// timestamps must follow the clock the buffers arrive by, not the count of samples.
#include "castorn/AudioTimeline.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <functional>
#include <random>

using namespace castorn;

namespace {

constexpr int kNominalRate = 44100;
constexpr std::int64_t kChunk = 1764;  // 40 ms at the nominal rate
constexpr double kLatency = 0.010;     // from a buffer's last sample to its arrival
constexpr double kSettled = 300;       // seconds after which the stamps are judged
constexpr double kSettleAfterLoss = 60;
constexpr double kTolerance = 0.003;  // seconds between a stamp and the true capture time

std::int64_t Ns(double seconds)
{
    return std::llround(seconds * 1e9);
}

// A source delivering `trueRate` samples per clock second for `seconds`, its buffers
// arriving late by kLatency plus `lateness(second)` plus up to 20 ms of scheduler jitter;
// `lostAt` seconds in, `lost` seconds of samples never arrive. Returns the largest error
// of a stamp against the capture time of its first sample plus kLatency (the part of the
// delay that nothing can tell from the capture time) once settled, and checks that from
// then on the stamps follow on from each other except just after a loss.
struct SimulatedSource {
    double trueRate;
    double seconds = 1800;
    std::function<double(double)> lateness = [](double) { return 0.0; };
    double lostAt = -1;
    double lost = 0;

    double WorstError(AudioTimeline& timeline) const
    {
        std::minstd_rand random(7);
        std::uniform_real_distribution<double> jitter(0, 0.020);
        double worst = 0;
        std::int64_t delivered = 0;
        double skipped = 0;
        std::int64_t expectedNext = -1;
        bool discont = false;
        while ((delivered + kChunk) / trueRate + skipped < seconds) {
            const double start = delivered / trueRate + skipped;
            if (lostAt >= 0 && skipped == 0 && start >= lostAt) {
                skipped = lost;
                discont = true;
                continue;
            }
            const double end = (delivered + kChunk) / trueRate + skipped;
            const double arrival = end + kLatency + lateness(end) + jitter(random);
            // The source's own stamps count samples at the nominal rate, and tell a loss.
            const double sourceStart = (delivered + skipped * trueRate) / kNominalRate;
            const auto stamp = timeline.Next(kChunk, Ns(sourceStart), Ns(arrival), discont);
            discont = false;
            const bool afterLoss = lostAt >= 0 && start >= lostAt && start < lostAt + kSettleAfterLoss;
            const bool judged = start > kSettled && !afterLoss;
            if (expectedNext >= 0 && judged && std::abs(stamp.pts - expectedNext) > Ns(kTolerance))
                ADD_FAILURE() << "the timestamps jump by " << (stamp.pts - expectedNext) / 1e6 << " ms at " << start
                              << " s";
            expectedNext = stamp.pts + stamp.duration;
            if (judged) worst = std::max(worst, std::abs(stamp.pts / 1e9 - (start + kLatency)));
            delivered += kChunk;
        }
        return worst;
    }
};

}  // namespace

TEST(AudioTimeline, AFastOrSlowSourceStaysOnTheClockForHalfAnHourWhereCountingWouldDriftByThirds)
{
    for (const double ppm : {204.0, -150.0, 0.0}) {
        SCOPED_TRACE(ppm);
        AudioTimeline timeline(kNominalRate);
        const SimulatedSource source{kNominalRate * (1 + ppm * 1e-6)};
        EXPECT_LT(source.WorstError(timeline), kTolerance);
        EXPECT_NEAR((timeline.ClockPerNominal() - 1) * 1e6, -ppm, 10) << "the source's rate, as clock time per sample";
    }
}

TEST(AudioTimeline, StallsUnderLoadDelayArrivalsButNotTheTimestamps)
{
    AudioTimeline timeline(kNominalRate);
    // Every 5 s the thread that reads the source is held up for up to 250 ms and then catches up.
    const SimulatedSource source{kNominalRate * (1 + 204e-6), 900,
                                 [](double t) { return std::max(0.0, 0.25 - std::fmod(t, 5.0)); }};
    EXPECT_LT(source.WorstError(timeline), kTolerance);
}

TEST(AudioTimeline, ADelayOfAWholeMinuteUnderLoadMovesTheSoundByAFewMillisecondsNotByTheDelay)
{
    AudioTimeline timeline(kNominalRate);
    // The sound server delivers everything 150 ms late for a minute, then catches up.
    const SimulatedSource source{kNominalRate * (1 + 204e-6), 1200,
                                 [](double t) { return t >= 500 && t < 560 ? 0.15 : 0.0; }};
    EXPECT_LT(source.WorstError(timeline), 0.010);
}

TEST(AudioTimeline, SamplesLostLeaveAGapOfTheirLengthAndTheTimestampsStayOnTheClock)
{
    AudioTimeline timeline(kNominalRate);
    SimulatedSource source{kNominalRate * (1 + 204e-6), 900};
    source.lostAt = 600;
    source.lost = 0.5;
    EXPECT_LT(source.WorstError(timeline), kTolerance);
}
