// The waveform around the first decoding errors, for the picture: samples, the slicer's envelopes,
// its runs and where the decoder gave up. An error shows only after the samples that caused it, so
// the latest samples and runs stay in two rings and a window is copied out once the samples after
// it have come; memory is fixed. Threads: a record belongs to one caller; no shared state.
#pragma once

#include <array>
#include <cstdint>

#include "decode/frame_decoder.h"

namespace analyze {

inline constexpr int32_t kMaxTracedErrors = 6;
// A window: the samples before the point where the decoder gave up reach back over the bad word
// (10 cells, about 66 samples) and the words and header before it; a few after show how the
// signal went on.
inline constexpr int32_t kTraceBefore = 448;
inline constexpr int32_t kTraceAfter = 64;
inline constexpr int32_t kTraceSamples = kTraceBefore + kTraceAfter;
// Rings hold at least a window of samples and of runs (a run is at least one sample long).
inline constexpr int32_t kTraceRing = 1024;
static_assert(kTraceRing >= kTraceSamples + 1, "a ring must hold a whole window");

struct TracePoint {
    int16_t sample = 0;
    double upper = 0.0;  // the slicer's envelopes after this sample
    double lower = 0.0;
};

struct TracedRun {
    int64_t start = 0;  // first sample of the run, from the start of the input
    int32_t length = 0;
};

struct ErrorWindow {
    int64_t firstSample = 0;  // sample number of points[0]
    int32_t pointCount = 0;   // points held; fewer than kTraceSamples at either end of the input
    std::array<TracePoint, kTraceSamples> points{};
    int32_t runCount = 0;  // runs that ended inside the window, in order
    std::array<TracedRun, kTraceSamples> runs{};
    int64_t gaveUpAt = 0;       // the end of the run whose bits completed the bad header or word
    decode::DecodeEvent event;  // BadHeader (the header in `value`) or InvalidWord (slot and word)
};

struct ErrorTrace {
    std::array<TracePoint, kTraceRing> recentPoints{};
    int64_t samplesSeen = 0;
    std::array<TracedRun, kTraceRing> recentRuns{};
    int64_t runsSeen = 0;
    std::array<ErrorWindow, kMaxTracedErrors> windows{};
    int32_t windowCount = 0;  // windows begun
    int32_t windowsDone = 0;  // windows complete; the others wait for their later samples
};

// True while the trace still wants samples: fewer than kMaxTracedErrors windows are complete.
bool TraceWanted(const ErrorTrace& trace);

// Records the next sample with the slicer's envelopes after it.
void TraceSample(ErrorTrace& trace, int16_t sample, double upper, double lower);

// Records a run that ended at `endSample` and what the decoder did with it; an error begins a
// window while fewer than kMaxTracedErrors have been begun.
void TraceRun(ErrorTrace& trace, int64_t endSample, int32_t length,
              const decode::DecodeEvent& event);

// Completes the windows still waiting, with the samples there are: the input has ended.
void FinishTrace(ErrorTrace& trace);

}  // namespace analyze
