#include "analyze/report_figures.h"

#include "decode/frame_decoder.h"

namespace analyze {

namespace {

double Percent(int64_t part, int64_t whole) {
    return whole > 0 ? 100.0 * static_cast<double>(part) / static_cast<double>(whole) : 0.0;
}

// A longer run never rounds to fewer cells, so the rows come out fewest cells first.
void GatherHistogram(ReportFigures& f, const RunStats& stats) {
    for (int32_t length = 1; length < kHistogramLengths; ++length) {
        if (stats.byLength[length] == 0) continue;
        const int32_t cells = decode::CellsInRun(length);
        if (f.histogram.empty() || f.histogram.back().cells != cells)
            f.histogram.emplace_back().cells = cells;
        f.histogram.back().runs += stats.byLength[length];
        f.histogram.back().lengths.push_back({length, stats.byLength[length]});
    }
    for (HistogramRow& row : f.histogram) row.sharePercent = Percent(row.runs, stats.runCount);
    f.longRuns = stats.longRuns;
    f.longRunsSharePercent = Percent(stats.longRuns, stats.runCount);
    f.longestRunSamples = stats.longestRun;
    f.longestRunSeconds = Seconds(stats.longestRun);
}

}  // namespace

std::vector<int64_t> RunsByCells(const RunStats& stats) {
    std::vector<int64_t> byCells(static_cast<size_t>(decode::CellsInRun(kHistogramLengths - 1)) + 1,
                                 0);
    for (int32_t length = 1; length < kHistogramLengths; ++length) {
        byCells[static_cast<size_t>(decode::CellsInRun(length))] += stats.byLength[length];
    }
    return byCells;
}

ReportFigures GatherFigures(const std::string& file, const Analysis& a) {
    ReportFigures f;
    f.file = file;
    f.kind = a.kind;
    if (a.kind == InputKind::RunLog) {
        f.logEntries = a.runs.runCount + a.zeroTail;
        f.zeroTail = a.zeroTail;
    } else {
        f.audio = a.audio;
        f.format = DescribeAudio(a.audio);
    }
    f.durationSeconds = Seconds(DurationSamples(a));
    f.runs = a.runs.runCount;

    const DecodeTally& t = a.tally;
    f.framesKindA = t.framesA;
    f.framesKindB = t.framesB;
    f.framesPerSecond = f.durationSeconds > 0.0
                            ? static_cast<double>(t.framesA + t.framesB) / f.durationSeconds
                            : 0.0;
    f.badHeaders = t.badHeaders;
    f.invalidWords = t.invalidWords;
    f.pos1 = t.pos1;
    f.pos1Writes = t.pos1Writes;
    f.pos1LastSeconds = Seconds(a.lastPos1At);

    f.hasLevel = a.kind != InputKind::RunLog;
    if (f.hasLevel) {
        f.level = a.level;
        f.peakMidpoint = (a.level.minSample + a.level.maxSample) / 2.0;
        f.dcOffset = DcOffset(a.level);
        f.clippedPercent = Percent(a.level.clipped, a.level.samples);
    }

    f.fit = FitCellLength(a.runs);
    if (f.fit.runsUsed > 0) {
        f.fittedCellsPerSecond = common::kSampleRateHz / f.fit.cellLength;
        f.cellLengthDeviationPercent =
            100.0 * (f.fit.cellLength - common::kSamplesPerCell) / common::kSamplesPerCell;
        f.decoderWorstCells = decode::CellsInRun(f.fit.decoderWorstLength);
        f.nearMissPercent = Percent(f.fit.nearMisses, f.fit.runsUsed);
    }
    GatherHistogram(f, a.runs);
    return f;
}

}  // namespace analyze
