// Run slicer: cuts signed 16-bit little-endian samples into alternating High and Low runs at an
// adaptive threshold, and hands every finished run to the consumer its caller gives it: the frame
// decoder or the run log live, the analyzer's tally offline.
// Threads: a record belongs to one thread, one call at a time (live: the sound input's).
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>

#include "common/little_endian.h"
#include "common/shared_types.h"

namespace decode {

// The threshold is the midpoint of two envelopes that jump to any sample beyond them and otherwise
// close in on each other by kEnvelopeStep per sample, so it follows the input's amplitude and DC
// offset. The record carries over from call to call, so buffers of any size give the same runs.
struct RunSlicer {
    // Upper envelope, in sample units.
    double upper = 0.0;
    // Lower envelope, in sample units.
    double lower = 0.0;
    // Samples in the open High run; 0 while the open run is Low.
    int32_t highRun = 0;
    // Samples in the open Low run; 0 while the open run is High.
    int32_t lowRun = 0;
};

// Envelope step per sample, in sample units (4 410 per second): fast enough to follow a fading
// signal within a fraction of a second, slow enough that a 16-bit signal's peaks hold the
// envelopes over many bit cells.
inline constexpr double kEnvelopeStep = 0.1;
// Gap set between the envelopes when they cross, in sample units, so that a constant input keeps
// one side of the threshold.
inline constexpr double kCrossedGap = 1.0;

// Slices the first `bytes` / 2 samples at `samples` (an odd trailing byte is ignored) and calls
// onRun(common::Run) for every run that ends, in order, during the call; `slicer` is brought up to
// date when the call returns. A run ends when the first sample of the next one arrives, so the run
// open at the end continues into the next call; run counters hold at INT32_MAX rather than
// overflow. The consumer is a template parameter so that it is compiled into the per-sample loop,
// which allocates nothing and keeps to plain IEEE double arithmetic, step by step.
template <typename OnRun>
void SliceBuffer(RunSlicer& slicer, const void* samples, size_t bytes, OnRun onRun) {
    constexpr int32_t kMaxRun = std::numeric_limits<int32_t>::max();
    const auto* data = static_cast<const uint8_t*>(samples);
    const size_t count = bytes / 2;
    // Locals, so that the compiler keeps the state in registers through the loop.
    double upper = slicer.upper;
    double lower = slicer.lower;
    int32_t highRun = slicer.highRun;
    int32_t lowRun = slicer.lowRun;
    for (size_t i = 0; i < count; ++i) {
        const double s = common::DecodeLe16Sample(data + 2 * i);
        upper = upper - kEnvelopeStep;
        lower = lower + kEnvelopeStep;
        if (upper < lower) upper = lower + kCrossedGap;
        if (s > upper) {
            upper = s;
        } else if (s < lower) {
            lower = s;
        }
        const double threshold = (lower + upper) * 0.5;
        // Equality counts as Low.
        if (s > threshold) {
            highRun += static_cast<int32_t>(highRun != kMaxRun);
            if (lowRun != 0) {
                onRun(common::Run{lowRun, common::RunLevel::Low});
                lowRun = 0;
            }
        } else {
            lowRun += static_cast<int32_t>(lowRun != kMaxRun);
            if (highRun != 0) {
                onRun(common::Run{highRun, common::RunLevel::High});
                highRun = 0;
            }
        }
    }
    slicer.upper = upper;
    slicer.lower = lower;
    slicer.highRun = highRun;
    slicer.lowRun = lowRun;
}

}  // namespace decode
