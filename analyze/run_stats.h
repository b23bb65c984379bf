// Statistics of a signal's runs and samples for vorlank-analyze: a run-length histogram, the bit
// cell length fitted to the runs and their margins to the decoder's rounding, the signal level.
// Records of fixed size whatever the input's length. Threads: one caller; no shared state.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace analyze {

// Lengths counted one by one, 1 .. 1023 samples (far past the sync's 119); longer runs are silence
// or a lost signal and are only counted.
inline constexpr int32_t kHistogramLengths = 1024;

// The fit uses runs of 1 to 8 cells, nearly every run inside a frame: the rare longer ones would
// outweigh the many short ones in a least-squares fit, and their cell counts are less certain.
inline constexpr int32_t kFitMinCells = 1;
inline constexpr int32_t kFitMaxCells = 8;

struct RunStats {
    // Runs per length in samples; [0] stays 0
    std::array<int64_t, kHistogramLengths> byLength{};
    int64_t runCount = 0;
    // Sum of all run lengths, samples
    int64_t totalSamples = 0;
    // Runs of kHistogramLengths samples or more
    int64_t longRuns = 0;
    // Samples
    int32_t longestRun = 0;
};

void AddRun(RunStats& stats, int32_t length);

// Distance, in cells, from `cells` (a run's length in cells, not yet rounded) to the nearest
// rounding boundary, k + 0.5: 0.5 for a run of exactly whole cells, near 0 for one that nearly
// rounds the other way.
double RoundingMargin(double cells);

// The bit cell length that best explains the runs of kFitMinCells to kFitMaxCells cells (the
// least-squares slope of length over cells, the counts re-taken with each estimate so a clock ~20%
// off is still measured right), and the smallest RoundingMargin over them with the decoder's fixed
// cell length (what `vorlank T` does) and with the fitted one.
struct CellFit {
    // Runs the fit rests on; 0 = no run of 1..8 cells, nothing below is set
    int64_t runsUsed = 0;
    // Samples per bit cell
    double cellLength = 0.0;
    // Cells, 0 .. 0.5, with the decoder's rounding, and the run length (samples) where it occurs
    double decoderMargin = 0.0;
    int32_t decoderWorstLength = 0;
    // Cells, 0 .. 0.5, with the fitted cell length, and the run length (samples)
    double fittedMargin = 0.0;
    int32_t fittedWorstLength = 0;
    // Runs within kNearMissCells of a boundary with the decoder's rounding: how often one noisy run
    // drags the worst margin to nothing
    int64_t nearMisses = 0;
};

inline constexpr double kNearMissCells = 0.1;

CellFit FitCellLength(const RunStats& stats);

// Level of a recording's samples, to judge the input gain: peaks, DC offset and clipping.
struct SignalLevel {
    int64_t samples = 0;
    // Valid once samples > 0
    int32_t minSample = 0;
    int32_t maxSample = 0;
    // For the DC offset (mean); 2^31 samples of 2^15 still fit
    int64_t sum = 0;
    // Samples at -32768 or 32767, the ends of the 16-bit range
    int64_t clipped = 0;
};

// `bytes` holds `count` bytes of 16-bit little-endian samples; a trailing odd byte is ignored.
void AddSamples(SignalLevel& level, const uint8_t* bytes, size_t count);

double DcOffset(const SignalLevel& level);

}  // namespace analyze
