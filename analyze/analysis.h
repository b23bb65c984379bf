// The streaming pass of vorlank-analyze: reads an opened input chunk by chunk and sends every run
// through the same decode/ code the live tool uses, collecting statistics on the way.
//
//   run log:             runs -> statistics, decoder           (the log holds the slicer's output)
//   recording and raw:   samples -> signal level, run slicer -> runs -> statistics, decoder
//
// Memory is fixed: one chunk of input, the records below, and nothing that grows with the input.
// Tracing the errors' waveform slices sample by sample, which is slower, but only until the last
// window it keeps is complete.
//
// Threads: one caller; no shared state.
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
    int64_t lastPos1At = -1;             // sample at which Pos1 was last written, -1 = never
    int64_t zeroTail = 0;                // run log: zero entries left out at its end
    AudioDescription audio;              // recording and raw: what was read, and how
    SignalLevel level;                   // recording and raw: every sample, at 44 100 Hz
    std::unique_ptr<ErrorTrace> errors;  // samples only, when asked for: the first errors' waveform
};

// Time covered by the input, in samples: every sample of a recording or raw stream; the sum of the
// runs of a log (a log holds nothing else).
int64_t DurationSamples(const Analysis& analysis);

// Where rows go while the input is read; null for none. See report.h for their formats.
struct AnalysisOutputs {
    OutputFile* pos1Csv = nullptr;    // a row for every Pos1 written
    OutputFile* framesCsv = nullptr;  // a row for every frame a sync started, as it ends
    bool traceErrors = false;         // keep the waveform around the first decoding errors
};

// Reads `reader` to its end into `analysis`, a freshly made record, writing rows to `outputs` on
// the way. Returns false with `error` set when the input turns out corrupt part-way; `analysis`
// then holds what came before.
bool AnalyzeInput(InputReader& reader, Analysis& analysis, const AnalysisOutputs& outputs,
                  std::string& error);

}  // namespace analyze
