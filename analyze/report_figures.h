// The figures of vorlank-analyze's report, gathered once from a finished analysis into one record
// from which every form (text, JSON) is rendered, so the forms cannot drift apart. Units are in the
// names: samples at 44 100 Hz, seconds, cells (bit cells), percent (0..100). Threads: one caller.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "analyze/analysis.h"
#include "analyze/run_stats.h"
#include "analyze/texts.h"

namespace analyze {

// Runs of one length in samples.
struct LengthCount {
    int32_t samples = 0;
    int64_t runs = 0;
};

// One row of the run-length histogram: the runs that the decoder rounds to `cells` cells.
struct HistogramRow {
    int32_t cells = 0;
    int64_t runs = 0;
    double sharePercent = 0.0;         // of all runs
    std::vector<LengthCount> lengths;  // the lengths it is made of, shortest first, none empty
};

struct ReportFigures {
    std::string file;  // the input as named to the user
    InputKind kind = InputKind::RunLog;
    // Recordings and raw samples
    AudioDescription audio;
    std::string format;  // "16-bit PCM, mono, 44100 Hz", with the channel and resampling if any
    // Run logs
    int64_t logEntries = 0;  // zero tail included
    int64_t zeroTail = 0;    // zero entries at the end, left out

    double durationSeconds = 0.0;
    int64_t runs = 0;

    int64_t framesKindA = 0;
    int64_t framesKindB = 0;
    double framesPerSecond = 0.0;
    int64_t badHeaders = 0;
    int64_t invalidWords = 0;

    int32_t pos1 = 0;  // as the live tool would show it last
    int64_t pos1Writes = 0;
    double pos1LastSeconds = 0.0;  // valid when pos1Writes > 0

    // Signal level of every sample at 44 100 Hz: recordings and raw samples only
    bool hasLevel = false;
    SignalLevel level;
    double peakMidpoint = 0.0;  // where the slicer's threshold settles
    double dcOffset = 0.0;      // the mean
    double clippedPercent = 0.0;

    // Cell length and margins: fit.runsUsed == 0 when no run of 1..8 cells was seen
    CellFit fit;
    double fittedCellsPerSecond = 0.0;
    double cellLengthDeviationPercent = 0.0;  // from the decoder's common::kSamplesPerCell
    int32_t decoderWorstCells = 0;            // how the decoder reads the run of the worst margin
    double nearMissPercent = 0.0;             // of the fitted runs

    std::vector<HistogramRow> histogram;  // rows with runs only, fewest cells first
    int64_t longRuns = 0;                 // runs of kHistogramLengths samples or more
    double longRunsSharePercent = 0.0;
    int32_t longestRunSamples = 0;
    double longestRunSeconds = 0.0;
};

ReportFigures GatherFigures(const std::string& file, const Analysis& analysis);

// Runs per cell count, 0 .. the cell count of the longest length the histogram holds.
std::vector<int64_t> RunsByCells(const RunStats& stats);

}  // namespace analyze
