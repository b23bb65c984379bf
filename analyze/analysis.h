// The streaming pass of vorlank-analyze: every run of an opened input, chunk by chunk, through the
// decode/ code the live tool uses (samples through the slicer first), in memory that does not grow
// with the input. Threads: one caller; no shared state.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "analyze/decode_tally.h"
#include "analyze/error_trace.h"
#include "analyze/input_reader.h"
#include "analyze/output_file.h"
#include "analyze/run_stats.h"
#include "analyze/tracks.h"

namespace analyze {

struct Analysis {
    InputKind kind = InputKind::RunLog;
    RunStats runs;
    DecodeTally tally;
    Pos1Track track;
    Timeline timeline;
    // Sample at which Pos1 was last written, -1 = never
    int64_t lastPos1At = -1;
    // Run log: zero entries left out at its end
    int64_t zeroTail = 0;
    // Recording and raw: what was read, and how
    AudioDescription audio;
    // Recording and raw: every sample, at 44 100 Hz
    SignalLevel level;
    // Samples only, when asked for: the first errors' waveform
    std::unique_ptr<ErrorTrace> errors;
};

// Time covered by the input, in samples: every sample of a recording or raw stream; the sum of the
// runs of a log (a log holds nothing else).
int64_t DurationSamples(const Analysis& analysis);

// Where rows go while the input is read; null for none. See report.h for their formats.
struct AnalysisOutputs {
    // A row for every Pos1 written
    OutputFile* pos1Csv = nullptr;
    // A row for every frame a sync started, as it ends
    OutputFile* framesCsv = nullptr;
    // Keep the waveform around the first decoding errors
    bool traceErrors = false;
};

// Reads `reader` to its end into `analysis`, a freshly made record, writing rows to `outputs` on
// the way. Returns false with `error` set when the input turns out corrupt part-way; `analysis`
// then holds what came before.
bool AnalyzeInput(InputReader& reader, Analysis& analysis, const AnalysisOutputs& outputs,
                  std::string& error);

}  // namespace analyze
