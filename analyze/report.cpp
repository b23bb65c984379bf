#include "analyze/report.h"

#include <algorithm>
#include <cinttypes>
#include <cstdarg>
#include <string>
#include <vector>

#include "decode/frame_decoder.h"

namespace analyze {

namespace {

constexpr int kBarWidth = 30;  // characters of the longest histogram bar

void Line(OutputFile& out, const char* format, ...) OUTPUT_PRINTF_LIKE(2, 3);

void Line(OutputFile& out, const char* format, ...) {
    va_list args;
    va_start(args, format);
    EmitV(out, format, args);
    va_end(args);
    EmitFlush(out);
}

// "1 run", "2 runs": counts in the report agree in number with their noun.
const char* Noun(int64_t count, const char* one, const char* many) {
    return count == 1 ? one : many;
}

std::string Bar(int64_t count, int64_t largest) {
    if (count == 0 || largest == 0) return std::string(kBarWidth, ' ');
    const auto filled = std::max<int64_t>(1, count * kBarWidth / largest);
    return std::string(static_cast<size_t>(filled), '#') +
           std::string(static_cast<size_t>(kBarWidth - filled), ' ');
}

void PrintInput(OutputFile& out, const ReportFigures& f) {
    Line(out, "File          %s\n", f.file.c_str());
    if (f.kind == InputKind::RunLog) {
        Line(out, "Input         run log of %" PRId64 " %s\n", f.logEntries,
             Noun(f.logEntries, "entry", "entries"));
        if (f.zeroTail > 0) {
            Line(out,
                 "              %" PRId64
                 " zero %s at its end left out: the log was stopped early\n",
                 f.zeroTail, Noun(f.zeroTail, "entry", "entries"));
        }
    } else {
        Line(out, "Input         %s, %s, %" PRId64 " samples\n", f.audio.container.c_str(),
             f.format.c_str(), f.level.samples);
    }
    Line(out, "Duration      %.3f s\n", f.durationSeconds);
    Line(out, "Runs          %" PRId64 "\n", f.runs);
}

void PrintDecoding(OutputFile& out, const ReportFigures& f) {
    Line(out, "Frames        %" PRId64 " (kind A %" PRId64 ", kind B %" PRId64 "), %.1f/s\n",
         f.framesKindA + f.framesKindB, f.framesKindA, f.framesKindB, f.framesPerSecond);
    Line(out,
         "Errors        %" PRId64 " (bad headers %" PRId64 ", invalid code words %" PRId64 ")\n",
         f.badHeaders + f.invalidWords, f.badHeaders, f.invalidWords);
    if (f.pos1Writes > 0) {
        Line(out, "Pos1          %d (written %" PRId64 " %s, last at %.3f s)\n", f.pos1,
             f.pos1Writes, Noun(f.pos1Writes, "time", "times"), f.pos1LastSeconds);
    } else {
        Line(out, "Pos1          %d (never written)\n", f.pos1);
    }
}

// Both the mean and the midpoint of the peaks: the mean of a two-level signal also moves with the
// share of 1-bits, while the midpoint is where the slicer's threshold settles.
void PrintLevel(OutputFile& out, const ReportFigures& f) {
    Line(out,
         "Signal        peaks %d .. %d (midpoint %+.1f), DC offset (mean) %+.1f, clipped samples "
         "%" PRId64 " (%.3f%%)\n",
         f.level.minSample, f.level.maxSample, f.peakMidpoint, f.dcOffset, f.level.clipped,
         f.clippedPercent);
}

void PrintCellFit(OutputFile& out, const ReportFigures& f) {
    const CellFit& fit = f.fit;
    if (fit.runsUsed == 0) {
        Line(out, "Cell length   not measurable: no runs of %d to %d cells\n", kFitMinCells,
             kFitMaxCells);
        return;
    }
    Line(out,
         "Cell length   %.4f samples (%.1f cells/s), fitted over %" PRId64
         " %s of %d to %d cells; the decoder assumes %.4f (%+.2f%%)\n",
         fit.cellLength, f.fittedCellsPerSecond, fit.runsUsed, Noun(fit.runsUsed, "run", "runs"),
         kFitMinCells, kFitMaxCells, common::kSamplesPerCell, f.cellLengthDeviationPercent);
    Line(out,
         "Worst margin  %.3f cells with the decoder's cell length (runs of %d samples, read as %d "
         "%s)\n",
         fit.decoderMargin, fit.decoderWorstLength, f.decoderWorstCells,
         Noun(f.decoderWorstCells, "cell", "cells"));
    Line(out, "              %.3f cells with the fitted cell length (runs of %d samples)\n",
         fit.fittedMargin, fit.fittedWorstLength);
    Line(out,
         "Near misses   %" PRId64
         " %s (%.3f%%) within %.1f cells of a rounding boundary of the decoder\n",
         fit.nearMisses, Noun(fit.nearMisses, "run", "runs"), f.nearMissPercent, kNearMissCells);
}

void PrintHistogram(OutputFile& out, const ReportFigures& f) {
    int64_t largest = f.longRuns;
    for (const HistogramRow& row : f.histogram) largest = std::max(largest, row.runs);
    Line(out, "Run lengths in bit cells (samples x %.8f, rounded as the decoder does)\n",
         common::kCellsPerSample);
    Line(out, "  cells        runs   share  %-*s  samples:runs\n", kBarWidth, "histogram");
    for (const HistogramRow& row : f.histogram) {
        std::string lengths;
        for (const LengthCount& l : row.lengths)
            lengths += " " + std::to_string(l.samples) + ":" + std::to_string(l.runs);
        Line(out, "  %5d  %10" PRId64 "  %5.1f%%  %s %s\n", row.cells, row.runs, row.sharePercent,
             Bar(row.runs, largest).c_str(), lengths.c_str());
    }
    if (f.longRuns > 0) {
        Line(out,
             "  %5s  %10" PRId64 "  %5.1f%%  %s  %d samples or more, the longest %d (%.3f s)\n",
             "long", f.longRuns, f.longRunsSharePercent, Bar(f.longRuns, largest).c_str(),
             kHistogramLengths, f.longestRunSamples, f.longestRunSeconds);
    }
}

}  // namespace

void PrintReport(OutputFile& out, const ReportFigures& figures) {
    PrintInput(out, figures);
    PrintDecoding(out, figures);
    if (figures.hasLevel) PrintLevel(out, figures);
    PrintCellFit(out, figures);
    Line(out, "\n");
    PrintHistogram(out, figures);
}

void WritePos1Header(OutputFile& csv) {
    Emit(csv, "seconds,pos1\n");
}

void WritePos1Row(OutputFile& csv, int64_t atSample, int32_t value) {
    Emit(csv, "%.6f,%d\n", Seconds(atSample), value);
}

void WriteFramesHeader(OutputFile& csv) {
    std::string header = "start_s,kind,header,outcome,failed_slot";
    for (int32_t slot = 0; slot < common::kSlotCount; ++slot)
        header += ",slot" + std::to_string(slot);
    Emit(csv, "%s\n", header.c_str());
}

void WriteFrameRow(OutputFile& csv, const FrameRecord& frame) {
    const char* kind = frame.kind == FrameKind::A ? "A" : frame.kind == FrameKind::B ? "B" : "";
    const char* outcome = frame.outcome == FrameOutcome::Complete      ? "complete"
                          : frame.outcome == FrameOutcome::BadHeader   ? "bad_header"
                          : frame.outcome == FrameOutcome::InvalidWord ? "invalid_word"
                                                                       : "unfinished";
    // A number's field, empty where there is none
    const auto field = [](bool present, int32_t value) {
        return present ? "," + std::to_string(value) : std::string(",");
    };
    std::string row = field(frame.header >= 0, frame.header) + "," + outcome +
                      field(frame.failedSlot >= 0, frame.failedSlot);
    for (int32_t slot = 0; slot < common::kSlotCount; ++slot) {
        row += field((frame.storedSlots >> slot & 1u) != 0, frame.sym[static_cast<size_t>(slot)]);
    }
    Emit(csv, "%.6f,%s%s\n", Seconds(frame.startSample), kind, row.c_str());
}

}  // namespace analyze
