#include "analyze/error_trace.h"

#include <algorithm>

namespace analyze {

namespace {

size_t RingIndex(int64_t n) {
    return static_cast<size_t>(n % kTraceRing);
}

// Copies windows out of the rings in the order they began: each once the kTraceAfter samples after
// its error have come, or, when the input has `ended`, with the samples there are.
void CompleteWindows(ErrorTrace& trace, bool ended) {
    while (trace.windowsDone < trace.windowCount) {
        ErrorWindow& window = trace.windows[static_cast<size_t>(trace.windowsDone)];
        const int64_t first = std::max<int64_t>(0, window.gaveUpAt - kTraceBefore);
        const int64_t end = std::min(trace.samplesSeen, window.gaveUpAt + kTraceAfter);
        if (end < window.gaveUpAt + kTraceAfter && !ended) return;
        window.firstSample = first;
        window.pointCount = static_cast<int32_t>(end - first);
        for (int64_t n = first; n < end; ++n) {
            window.points[static_cast<size_t>(n - first)] = trace.recentPoints[RingIndex(n)];
        }
        // The runs that end inside the window; the ring reaches back further than the window does.
        const int64_t oldest = std::max<int64_t>(0, trace.runsSeen - kTraceRing);
        window.runCount = 0;
        for (int64_t r = oldest; r < trace.runsSeen; ++r) {
            const TracedRun& run = trace.recentRuns[RingIndex(r)];
            const int64_t runEnd = run.start + run.length;
            if (runEnd > first && runEnd <= end && window.runCount < kTraceSamples) {
                window.runs[static_cast<size_t>(window.runCount++)] = run;
            }
        }
        ++trace.windowsDone;
    }
}

}  // namespace

bool TraceWanted(const ErrorTrace& trace) {
    return trace.windowsDone < kMaxTracedErrors;
}

void TraceSample(ErrorTrace& trace, int16_t sample, double upper, double lower) {
    trace.recentPoints[RingIndex(trace.samplesSeen)] = TracePoint{sample, upper, lower};
    ++trace.samplesSeen;
    CompleteWindows(trace, false);
}

void TraceRun(ErrorTrace& trace, int64_t endSample, int32_t length,
              const decode::DecodeEvent& event) {
    trace.recentRuns[RingIndex(trace.runsSeen)] = TracedRun{endSample - length, length};
    ++trace.runsSeen;
    const bool error = event.kind == decode::DecodeEventKind::BadHeader ||
                       event.kind == decode::DecodeEventKind::InvalidWord;
    if (!error || trace.windowCount >= kMaxTracedErrors) return;
    ErrorWindow& window = trace.windows[static_cast<size_t>(trace.windowCount++)];
    window.gaveUpAt = endSample;
    window.event = event;
}

void FinishTrace(ErrorTrace& trace) {
    CompleteWindows(trace, true);
}

}  // namespace analyze
