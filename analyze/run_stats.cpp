#include "analyze/run_stats.h"

#include <cmath>

#include "common/little_endian.h"
#include "decode/frame_decoder.h"

namespace analyze {

namespace {

// Enough for any real signal: each round moves the estimate to the fit of the previous counts, and
// the counts of runs of at most 8 cells settle within a few rounds unless the runs are noise.
constexpr int kMaxFitRounds = 50;

// The fit widens in stages. A cell count n is read right while n times the clock error stays under
// half a cell, so runs of 1 and 2 cells are counted right even 20% off the nominal length; their
// fit then counts runs of up to 4 cells right, and that fit the runs of up to 8.
constexpr int32_t kFitStages[] = {2, 4, kFitMaxCells};

int64_t CellsAt(int32_t length, double cellsPerSample) {
    return static_cast<int64_t>(std::floor(length * cellsPerSample + 0.5));
}

struct Sums {
    double lengthTimesCells = 0.0;
    double cellsSquared = 0.0;
    int64_t runs = 0;
};

Sums SumFit(const RunStats& stats, double cellsPerSample, int32_t maxCells) {
    Sums sums;
    for (int32_t length = 1; length < kHistogramLengths; ++length) {
        const int64_t runs = stats.byLength[length];
        const int64_t cells = CellsAt(length, cellsPerSample);
        if (runs == 0 || cells < kFitMinCells || cells > maxCells) continue;
        const auto n = static_cast<double>(runs);
        sums.lengthTimesCells += n * static_cast<double>(cells) * length;
        sums.cellsSquared += n * static_cast<double>(cells * cells);
        sums.runs += runs;
    }
    return sums;
}

bool SameCounts(const RunStats& stats, double cellsPerSampleA, double cellsPerSampleB) {
    for (int32_t length = 1; length < kHistogramLengths; ++length) {
        if (stats.byLength[length] != 0 &&
            CellsAt(length, cellsPerSampleA) != CellsAt(length, cellsPerSampleB)) {
            return false;
        }
    }
    return true;
}

// Smallest margin over the fitted runs when cells are counted at `cellsPerSample`, and the run
// length where it occurs. Returns how many runs come within kNearMissCells.
int64_t WorstMargin(const RunStats& stats, double cellsPerSample, double& margin, int32_t& where) {
    margin = 0.5;
    where = 0;
    int64_t nearMisses = 0;
    for (int32_t length = 1; length < kHistogramLengths; ++length) {
        const int64_t cells = CellsAt(length, cellsPerSample);
        if (stats.byLength[length] == 0 || cells < kFitMinCells || cells > kFitMaxCells) continue;
        const double m = RoundingMargin(length * cellsPerSample);
        if (m < kNearMissCells) nearMisses += stats.byLength[length];
        if (where == 0 || m < margin) {
            margin = m;
            where = length;
        }
    }
    return nearMisses;
}

}  // namespace

void AddRun(RunStats& stats, int32_t length) {
    ++stats.runCount;
    stats.totalSamples += length;
    if (length > stats.longestRun) stats.longestRun = length;
    if (length >= kHistogramLengths) {
        ++stats.longRuns;
    } else if (length > 0) {
        ++stats.byLength[length];
    }
}

double RoundingMargin(double cells) {
    return 0.5 - std::fabs(cells - std::floor(cells + 0.5));
}

CellFit FitCellLength(const RunStats& stats) {
    CellFit fit;
    // Start from the decoder's own rounding, so the first counts are exactly the ones it reads.
    double cellsPerSample = common::kCellsPerSample;
    for (int32_t maxCells : kFitStages) {
        for (int round = 0; round < kMaxFitRounds; ++round) {
            const Sums sums = SumFit(stats, cellsPerSample, maxCells);
            if (sums.runs == 0) break;
            const double next = sums.cellsSquared / sums.lengthTimesCells;  // 1 / slope
            const bool settled = SameCounts(stats, cellsPerSample, next);
            cellsPerSample = next;
            if (settled) break;
        }
    }
    const Sums sums = SumFit(stats, cellsPerSample, kFitMaxCells);
    if (sums.runs == 0) return fit;
    fit.runsUsed = sums.runs;
    fit.cellLength = sums.lengthTimesCells / sums.cellsSquared;
    fit.nearMisses =
        WorstMargin(stats, common::kCellsPerSample, fit.decoderMargin, fit.decoderWorstLength);
    WorstMargin(stats, 1.0 / fit.cellLength, fit.fittedMargin, fit.fittedWorstLength);
    return fit;
}

void AddSamples(SignalLevel& level, const uint8_t* bytes, size_t count) {
    for (size_t i = 0; i + 1 < count; i += 2) {
        const int32_t s = common::DecodeLe16Sample(bytes + i);
        if (level.samples == 0 || s < level.minSample) level.minSample = s;
        if (level.samples == 0 || s > level.maxSample) level.maxSample = s;
        if (s == -32768 || s == 32767) ++level.clipped;
        level.sum += s;
        ++level.samples;
    }
}

double DcOffset(const SignalLevel& level) {
    return level.samples > 0 ? static_cast<double>(level.sum) / static_cast<double>(level.samples)
                             : 0.0;
}

}  // namespace analyze
