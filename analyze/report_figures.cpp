#include "analyze/report_figures.h"

#include "decode/frame_decoder.h"

namespace analyze {

namespace {

double Percent(int64_t part, int64_t whole) {
    return whole > 0 ? 100.0 * static_cast<double>(part) / static_cast<double>(whole) : 0.0;
}

void GatherHistogram(ReportFigures& f, const RunStats& stats) {
    const std::vector<int64_t> byCells = RunsByCells(stats);
    int32_t length = 1;
    for (size_t cells = 0; cells < byCells.size(); ++cells) {
        HistogramRow row;
        row.cells = static_cast<int32_t>(cells);
        row.runs = byCells[cells];
        row.sharePercent = Percent(row.runs, stats.runCount);
        for (; length < kHistogramLengths && decode::CellsInRun(length) == row.cells; ++length) {
            if (stats.byLength[length] != 0)
                row.lengths.push_back({length, stats.byLength[length]});
        }
        if (row.runs != 0) f.histogram.push_back(std::move(row));
    }
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
        f.samples = a.level.samples;
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
        f.minSample = a.level.minSample;
        f.maxSample = a.level.maxSample;
        f.peakMidpoint = (a.level.minSample + a.level.maxSample) / 2.0;
        f.dcOffset = DcOffset(a.level);
        f.clippedSamples = a.level.clipped;
        f.clippedPercent = Percent(a.level.clipped, a.level.samples);
    }

    f.fit = FitCellLength(a.runs);
    f.decoderCellLength = 1.0 / common::kCellsPerSample;
    if (f.fit.runsUsed > 0) {
        f.fittedCellsPerSecond = common::kSampleRateHz / f.fit.cellLength;
        f.cellLengthDeviationPercent =
            100.0 * (f.fit.cellLength - f.decoderCellLength) / f.decoderCellLength;
        f.decoderWorstCells = decode::CellsInRun(f.fit.decoderWorstLength);
        f.nearMissPercent = Percent(f.fit.nearMisses, f.fit.runsUsed);
    }
    GatherHistogram(f, a.runs);
    return f;
}

}  // namespace analyze
