// Statistics of a signal's runs and samples for vorlank-analyze: a run-length histogram, the bit
// cell length fitted to the runs, and how close the runs come to a rounding boundary of the
// decoder; for a recording also the signal level.
//
// All records are of fixed size whatever the input's length: the histogram counts every run length
// below kHistogramLengths samples one by one (far past the 18-cell sync run of about 119 samples)
// and only counts the longer ones, which are silence or a lost signal rather than bit cells.
//
// Threads: records belong to one caller; no shared state.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace analyze {

inline constexpr int32_t kHistogramLengths = 1024;  // lengths 1 .. 1023 samples (up to 154 cells)

// The fit uses runs of 1 to 8 cells: nearly every run inside headers and code words (a code word
// holds at most 8 equal bits in a row; only where two words meet can a run grow to 15). Leaving out
// the rare longer runs, the 18-cell sync and the gaps between frames keeps a few long runs, whose
// weight in a least-squares fit grows with the square of their length, from outweighing the many
// short ones, and keeps the count of cells of every fitted run unambiguous.
inline constexpr int32_t kFitMinCells = 1;
inline constexpr int32_t kFitMaxCells = 8;

struct RunStats {
    std::array<int64_t, kHistogramLengths> byLength{};  // runs per length in samples; [0] stays 0
    int64_t runCount = 0;
    int64_t totalSamples = 0;  // sum of all run lengths
    int64_t longRuns = 0;      // runs of kHistogramLengths samples or more
    int32_t longestRun = 0;    // samples
};

void AddRun(RunStats& stats, int32_t length);

// Distance, in cells, from `cells` (a run's length in cells, not yet rounded) to the nearest
// rounding boundary, k + 0.5: 0.5 for a run of exactly whole cells, near 0 for one that nearly
// rounds the other way.
double RoundingMargin(double cells);

// The bit cell length that best explains the runs: the least-squares slope through the origin of
// run length over cell count, length ~ cellLength x cells, over the runs of kFitMinCells to
// kFitMaxCells cells. Cell counts are first taken with the decoder's nominal 6.623 samples per cell
// and then re-taken with each new estimate until they no longer change, starting with the shortest
// runs and widening to longer ones, so a transmitter whose clock is up to about 20% off is still
// measured right rather than settling on counts that are wrong by one.
//
// The margins say how close the signal comes to being mis-read: the smallest RoundingMargin over
// those runs, once with the decoder's fixed cell length (what `vorlank T` actually does) and once
// with the fitted one (what a receiver tuned to this transmitter would see).
struct CellFit {
    int64_t runsUsed = 0;  // runs the fit rests on; 0 = no run of 1..8 cells, nothing below is set
    double cellLength = 0.0;         // samples per bit cell
    double decoderMargin = 0.0;      // cells, 0 .. 0.5, with the decoder's rounding
    int32_t decoderWorstLength = 0;  // the run length (samples) where it occurs
    double fittedMargin = 0.0;       // cells, 0 .. 0.5, with the fitted cell length
    int32_t fittedWorstLength = 0;
    // Runs within kNearMissCells of a boundary with the decoder's rounding. One noisy run drags
    // the worst margin to nothing; the share of near misses says how often that happens.
    int64_t nearMisses = 0;
};

inline constexpr double kNearMissCells = 0.1;

CellFit FitCellLength(const RunStats& stats);

// Level of a recording's samples, to judge the input gain: peaks, DC offset and clipping.
struct SignalLevel {
    int64_t samples = 0;
    int32_t minSample = 0;  // valid once samples > 0
    int32_t maxSample = 0;
    int64_t sum = 0;      // for the DC offset (mean); 2^31 samples of 2^15 still fit
    int64_t clipped = 0;  // samples at -32768 or 32767, the ends of the 16-bit range
};

// `bytes` holds `count` bytes of 16-bit little-endian samples; a trailing odd byte is ignored.
void AddSamples(SignalLevel& level, const uint8_t* bytes, size_t count);

double DcOffset(const SignalLevel& level);

}  // namespace analyze
