// The arrival clock against simulated timelines of a sound card that completes 512-sample blocks
// on its own clock, and a driver that hands them over late, in bursts, or not at all.
#include "capture/arrival_clock.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>

namespace {

using namespace capture;

constexpr double kRateHz = 44100;
constexpr uint64_t kBlockSamples = 512;

constexpr double kNever = 1e9;

struct Timeline {
    const char* what = "";
    double startUpSeconds = 0;  // from the restart to the card's first sample
    double cardDrift = 0;       // how much faster the card's clock runs than the system's
    double seconds = 20;        // simulated length
    double passSeconds = 0;     // blocks are handed over at the end of passes this long
    double jitterSeconds = 0;   // and then up to this much later still (a busy machine)
    double gapAt = kNever;      // blocks completed in [gapAt, gapAt + gapSeconds) never arrive,
    double againAt = kNever;    // nor those as long again from againAt on
    double gapSeconds = 0;
    bool ranDryAtGap = false;  // the gap is the driver running out of queued blocks
    double lateAt = kNever;    // blocks completed in [lateAt, lateAt + lateSeconds) arrive after
    double lateSeconds = 0;    // it, eight at a time, lateRoundSeconds apart (a driver catching
    double lateRoundSeconds = 0.002;             // up), and the blocks after them wait their turn
    double settleSeconds = kWinmmSettleSeconds;  // the device layer's
    int reports = 0;                             // losses expected to be reported
};

struct Outcome {
    int reports = 0;
    uint64_t reportedSamples = 0;
    uint64_t droppedSamples = 0;  // what the gaps really took
    uint64_t observations = 0;
};

// A small fixed generator, so that every run sees the same jitter.
struct Jitter {
    uint32_t state = 12345;
    double Next(double most) {
        state = state * 1664525u + 1013904223u;
        return most * static_cast<double>(state >> 8) / static_cast<double>(1u << 24);
    }
};

Outcome Simulate(const Timeline& t) {
    ArrivalClock clock;
    RestartArrivals(clock, kRateHz, t.settleSeconds);
    Outcome out;
    Jitter jitter;
    const double cardRateHz = kRateHz * (1 + t.cardDrift);
    const double start = 3.0;  // any clock reading will do
    uint64_t received = 0;
    // A first look before anything has arrived, as a layer makes when its first read finds
    // nothing yet: the wait for the first sound is the device's start-up, not a loss.
    EXPECT_EQ(ObserveArrivals(clock, start - t.startUpSeconds, received), 0u);
    uint64_t pending = 0;  // arrived with the current hand-over, not yet observed
    double handOver = start;
    uint64_t lateCount = 0;
    bool ranDryNoted = false;
    for (uint64_t block = 0;; ++block) {
        const double done = start + static_cast<double>((block + 1) * kBlockSamples) / cardRateHz;
        if (done > start + t.seconds) break;
        const double since = done - start;
        const auto inGap = [&](double at) { return since >= at && since < at + t.gapSeconds; };
        if (inGap(t.gapAt) || inGap(t.againAt)) {
            if (t.ranDryAtGap && !ranDryNoted) {
                NoteRanDry(clock, done);
                ranDryNoted = true;
            }
            out.droppedSamples += kBlockSamples;
            continue;
        }
        double arrives = done;
        if (since >= t.lateAt && since < t.lateAt + t.lateSeconds) {
            const uint64_t handOverRound = lateCount++ / 8;  // eight blocks a round
            arrives = start + t.lateAt + t.lateSeconds +
                      t.lateRoundSeconds * static_cast<double>(handOverRound);
        }
        if (t.passSeconds > 0)
            arrives = std::ceil((arrives - start) / t.passSeconds) * t.passSeconds + start;
        if (t.jitterSeconds > 0) arrives += jitter.Next(t.jitterSeconds);
        if (arrives > handOver && pending > 0) {
            received += pending;
            pending = 0;
            ++out.observations;
            if (const uint64_t lost = ObserveArrivals(clock, handOver, received); lost > 0) {
                ++out.reports;
                out.reportedSamples += lost;
            }
        }
        handOver = std::max(handOver, arrives);
        pending += kBlockSamples;
    }
    return out;
}

TEST(ArrivalClock, ReportsLostSoundOnceAndNeverSoundThatIsLateOrOnASlowCard) {
    const Timeline timelines[] = {
        {.what = "10 min clean, card 0.5 % fast", .cardDrift = +0.005, .seconds = 600},
        {.what = "10 min clean, card 0.5 % slow", .cardDrift = -0.005, .seconds = 600},
        {.what = "10 min in 30 ms passes on a busy machine, card 0.5 % slow",
         .cardDrift = -0.005,
         .seconds = 600,
         .passSeconds = 0.030,
         .jitterSeconds = 0.020},
        {.what = "10 min of a card falling behind by 0.9 %",
         .cardDrift = -0.009,
         .seconds = 600,
         .passSeconds = 0.030},
        {.what = "300 ms held up, then caught up",
         .passSeconds = 0.030,
         .jitterSeconds = 0.010,
         .lateAt = 8,
         .lateSeconds = 0.300},
        {.what = "150 ms gap", .gapAt = 8, .gapSeconds = 0.150, .reports = 1},
        {.what = "150 ms gap in 30 ms passes, card 0.5 % slow",
         .cardDrift = -0.005,
         .passSeconds = 0.030,
         .jitterSeconds = 0.010,
         .gapAt = 8,
         .gapSeconds = 0.150,
         .reports = 1},
        {.what = "1.5 s gap, card 0.5 % fast",
         .cardDrift = +0.005,
         .gapAt = 8,
         .gapSeconds = 1.5,
         .reports = 1},
        {.what = "two gaps of 200 ms", .gapAt = 5, .againAt = 12, .gapSeconds = 0.2, .reports = 2},
        {.what = "50 ms gap: the driver ran out of blocks",
         .gapAt = 8,
         .gapSeconds = 0.050,
         .ranDryAtGap = true,
         .reports = 1},
        {.what = "the first sound 2 s after the start (a sound server connecting)",
         .startUpSeconds = 2,
         .passSeconds = 0.023,
         .settleSeconds = kAlsaSettleSeconds},
        {.what = "process held 1.5 s, the server kept the sound and hands it over in 20 ms rounds",
         .passSeconds = 0.023,
         .lateAt = 8,
         .lateSeconds = 1.5,
         .lateRoundSeconds = 0.020,
         .settleSeconds = kAlsaSettleSeconds},
        {.what = "process held 1.5 s, the server dropped the sound, card 0.5 % slow",
         .cardDrift = -0.005,
         .passSeconds = 0.023,
         .jitterSeconds = 0.010,
         .gapAt = 8,
         .gapSeconds = 1.5,
         .settleSeconds = kAlsaSettleSeconds,
         .reports = 1},
    };
    for (const Timeline& t : timelines) {
        const Outcome out = Simulate(t);
        SCOPED_TRACE(t.what);
        ASSERT_GT(out.observations, 100u);
        EXPECT_EQ(out.reports, t.reports);
        // Within a block and a burst either way, and 2 % of the gap: the baseline's drift
        // allowance over the gap and the settling time, and the card's own drift.
        const double dropped = static_cast<double>(out.droppedSamples) / kRateHz;
        const double tolerance = 0.012 + t.passSeconds + t.jitterSeconds + 0.02 * dropped;
        EXPECT_NEAR(static_cast<double>(out.reportedSamples) / kRateHz, dropped, tolerance);
    }
}

}  // namespace
