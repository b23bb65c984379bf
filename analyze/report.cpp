#include "analyze/report.h"

#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <cstdarg>
#include <string>
#include <vector>

#include "decode/frame_decoder.h"

// MinGW's printf checking follows the Microsoft runtime and would flag the C99 length modifiers
// that <cinttypes> hands out; the Linux builds do the checking.
#if defined(__GNUC__) && !defined(__MINGW32__)
#define ANALYZE_PRINTF_LIKE(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define ANALYZE_PRINTF_LIKE(fmt, args)
#endif

namespace {

constexpr double kRate = kSampleRateHz;
constexpr int kBarWidth = 30;  // characters of the longest histogram bar

void Line(std::FILE* out, const char* format, ...) ANALYZE_PRINTF_LIKE(2, 3);

void Line(std::FILE* out, const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vfprintf(out, format, args);
    va_end(args);
    std::fflush(out);
}

double Seconds(int64_t samples) {
    return static_cast<double>(samples) / kRate;
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

void PrintInput(std::FILE* out, const ReportFigures& f) {
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
        Line(out, "Input         %s, %s, %" PRId64 " samples\n",
             f.kind == InputKind::Wav ? "WAV recording" : "raw samples", f.format.c_str(),
             f.samples);
    }
    Line(out, "Duration      %.3f s\n", f.durationSeconds);
    Line(out, "Runs          %" PRId64 "\n", f.runs);
}

void PrintDecoding(std::FILE* out, const ReportFigures& f) {
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
void PrintLevel(std::FILE* out, const ReportFigures& f) {
    Line(out,
         "Signal        peaks %d .. %d (midpoint %+.1f), DC offset (mean) %+.1f, clipped samples "
         "%" PRId64 " (%.3f%%)\n",
         f.minSample, f.maxSample, f.peakMidpoint, f.dcOffset, f.clippedSamples, f.clippedPercent);
}

void PrintCellFit(std::FILE* out, const ReportFigures& f) {
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
         kFitMinCells, kFitMaxCells, f.decoderCellLength, f.cellLengthDeviationPercent);
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

void PrintHistogram(std::FILE* out, const ReportFigures& f) {
    int64_t largest = f.longRuns;
    for (const HistogramRow& row : f.histogram) largest = std::max(largest, row.runs);
    Line(out, "Run lengths in bit cells (samples x %.8f, rounded as the decoder does)\n",
         CellsPerSample);
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

// ---- SVG ----

constexpr int kSvgWidth = 960;
constexpr int kSvgHeight = 660;
constexpr double kPlotLeft = 80.0;
constexpr double kPlotRight = 930.0;
constexpr double kHistTop = 70.0;
constexpr double kHistBottom = 300.0;
constexpr double kTrackTop = 390.0;
constexpr double kTrackBottom = 610.0;
// The count axis starts at half a run, so that a single run still shows as a short bar.
constexpr double kCountAxisBase = 0.5;

// File names may hold anything; the picture's title keeps printable ASCII and escapes XML.
std::string XmlText(const char* text) {
    std::string escaped;
    for (const char* p = text; *p != '\0'; ++p) {
        const auto c = static_cast<unsigned char>(*p);
        switch (c) {
            case '&':
                escaped += "&amp;";
                break;
            case '<':
                escaped += "&lt;";
                break;
            case '>':
                escaped += "&gt;";
                break;
            case '"':
                escaped += "&quot;";
                break;
            default:
                escaped += (c >= 0x20 && c < 0x7F) ? static_cast<char>(c) : '?';
        }
    }
    return escaped;
}

// 1, 2 or 5 times a power of ten, so that about `wanted` steps cover `span`.
double NiceStep(double span, int wanted) {
    const double raw = span / wanted;
    const double decade = std::pow(10.0, std::floor(std::log10(raw)));
    for (double m : {1.0, 2.0, 5.0}) {
        if (m * decade >= raw) return m * decade;
    }
    return 10.0 * decade;
}

void SvgHistogram(OutputFile& svg, const RunStats& stats) {
    const std::vector<int64_t> byCells = RunsByCells(stats);
    size_t lastCell = 20;  // always show up to a little past the sync run
    for (size_t c = 0; c < byCells.size(); ++c) {
        if (byCells[c] > 0) lastCell = std::max(lastCell, c);
    }
    const size_t bars = lastCell + 2;  // cells 0..lastCell, then the long runs
    const int64_t largest =
        std::max<int64_t>({1, *std::max_element(byCells.begin(), byCells.end()), stats.longRuns});
    const int decades =
        std::max(1, static_cast<int>(std::ceil(std::log10(static_cast<double>(largest)))));
    const double axisTop = std::log10(std::pow(10.0, decades) / kCountAxisBase);
    const auto y = [&](double count) {
        return kHistBottom -
               (kHistBottom - kHistTop) * std::log10(count / kCountAxisBase) / axisTop;
    };
    const double slot = (kPlotRight - kPlotLeft) / static_cast<double>(bars);

    Emit(svg,
         "<text x=\"%g\" y=\"%g\" font-size=\"14\">Run lengths in bit cells (runs, "
         "logarithmic)</text>\n",
         kPlotLeft, kHistTop - 14);
    for (int d = 0; d <= decades; ++d) {
        const double count = std::pow(10.0, d);
        Emit(svg,
             "<line x1=\"%g\" y1=\"%.1f\" x2=\"%g\" y2=\"%.1f\" stroke=\"#dddddd\"/>"
             "<text x=\"%g\" y=\"%.1f\" text-anchor=\"end\">%.0f</text>\n",
             kPlotLeft, y(count), kPlotRight, y(count), kPlotLeft - 6, y(count) + 4, count);
    }
    const size_t labelEvery = bars <= 42 ? 1 : bars <= 84 ? 5 : 10;
    for (size_t i = 0; i < bars; ++i) {
        const bool longRuns = i == bars - 1;
        const int64_t count = longRuns ? stats.longRuns : byCells[i];
        const double x = kPlotLeft + slot * static_cast<double>(i);
        if (count > 0) {
            const char* colour = longRuns                                   ? kSvgOtherRunColour
                                 : i == kSyncCells                          ? kSvgSyncRunColour
                                 : (i >= kFitMinCells && i <= kFitMaxCells) ? kSvgDataRunColour
                                                                            : kSvgOtherRunColour;
            const double top = y(static_cast<double>(count));
            Emit(svg,
                 "<rect x=\"%.2f\" y=\"%.2f\" width=\"%.2f\" height=\"%.2f\" fill=\"%s\">"
                 "<title>%s: %" PRId64 " runs</title></rect>\n",
                 x + slot * 0.1, top, slot * 0.8, kHistBottom - top, colour,
                 longRuns ? "long runs" : (std::to_string(i) + " cells").c_str(), count);
        }
        if (longRuns || i % labelEvery == 0) {
            Emit(svg, "<text x=\"%.2f\" y=\"%g\" text-anchor=\"middle\">%s</text>\n",
                 x + slot * 0.5, kHistBottom + 16, longRuns ? "long" : std::to_string(i).c_str());
        }
    }
    Emit(svg,
         "<line x1=\"%g\" y1=\"%g\" x2=\"%g\" y2=\"%g\" stroke=\"black\"/>\n"
         "<text x=\"%g\" y=\"%g\">cells (blue: 1 to 8, the runs the cell length is fitted to; "
         "green: the 18-cell sync; grey: others)</text>\n",
         kPlotLeft, kHistBottom, kPlotRight, kHistBottom, kPlotLeft, kHistBottom + 36);
}

void SvgPos1Track(OutputFile& svg, const Analysis& a) {
    const double seconds = std::max(Seconds(DurationSamples(a)), 1.0 / kRate);
    const auto x = [&](double t) {
        return kPlotLeft + (kPlotRight - kPlotLeft) * std::min(t / seconds, 1.0);
    };
    const auto y = [](double v) {
        return kTrackBottom - (kTrackBottom - kTrackTop) * v / kPos1Max;
    };

    Emit(svg, "<text x=\"%g\" y=\"%g\" font-size=\"14\">Pos1 over time</text>\n", kPlotLeft,
         kTrackTop - 14);
    for (int v : {0, 256, 512, 768, kPos1Max}) {
        Emit(svg,
             "<line x1=\"%g\" y1=\"%.1f\" x2=\"%g\" y2=\"%.1f\" stroke=\"#dddddd\"/>"
             "<text x=\"%g\" y=\"%.1f\" text-anchor=\"end\">%d</text>\n",
             kPlotLeft, y(v), kPlotRight, y(v), kPlotLeft - 6, y(v) + 4, v);
    }
    const double step = NiceStep(seconds, 8);
    for (double t = 0.0; t <= seconds * (1.0 + 1e-9); t += step) {
        Emit(svg, "<text x=\"%.1f\" y=\"%g\" text-anchor=\"middle\">%g</text>\n", x(t),
             kTrackBottom + 16, t);
    }
    Emit(svg,
         "<line x1=\"%g\" y1=\"%g\" x2=\"%g\" y2=\"%g\" stroke=\"black\"/>"
         "<text x=\"%g\" y=\"%g\">seconds</text>\n",
         kPlotLeft, kTrackBottom, kPlotRight, kTrackBottom, kPlotLeft, kTrackBottom + 36);
    if (a.tally.pos1Writes == 0) {
        Emit(svg, "<text x=\"%g\" y=\"%g\" text-anchor=\"middle\">Pos1 was never written</text>\n",
             (kPlotLeft + kPlotRight) / 2, (kTrackTop + kTrackBottom) / 2);
        return;
    }
    // Each bucket draws as a vertical stroke from its lowest to its highest value, joined to the
    // next: a steady Pos1 is a flat line, a jittering one a band as wide as the jitter.
    Emit(svg,
         "<polyline fill=\"none\" stroke=\"%s\" stroke-width=\"2\" "
         "shape-rendering=\"crispEdges\" points=\"",
         kSvgPos1Colour);
    const double bucketSeconds = Seconds(a.track.bucketSamples);
    for (size_t i = 0; i < a.track.buckets.size(); ++i) {
        const Pos1Bucket& b = a.track.buckets[i];
        if (!b.used) continue;
        const double bx = x((static_cast<double>(i) + 0.5) * bucketSeconds);
        Emit(svg, "%.2f,%.2f %.2f,%.2f ", bx, y(b.low), bx, y(b.high));
    }
    Emit(svg, "\"/>\n");
}

}  // namespace

void PrintReport(std::FILE* out, const ReportFigures& figures) {
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
    for (int32_t slot = 0; slot < kSlotCount; ++slot) header += ",slot" + std::to_string(slot);
    Emit(csv, "%s\n", header.c_str());
}

void WriteFrameRow(OutputFile& csv, const FrameRecord& frame) {
    const char* kind = frame.kind == FrameKind::A ? "A" : frame.kind == FrameKind::B ? "B" : "";
    const char* outcome = frame.outcome == FrameOutcome::Complete      ? "complete"
                          : frame.outcome == FrameOutcome::BadHeader   ? "bad_header"
                          : frame.outcome == FrameOutcome::InvalidWord ? "invalid_word"
                                                                       : "unfinished";
    std::string row;
    const auto number = [&](bool present, int32_t value) {
        row += ',';
        if (present) row += std::to_string(value);
    };
    number(frame.header >= 0, frame.header);
    row += ',';
    row += outcome;
    number(frame.failedSlot >= 0, frame.failedSlot);
    for (int32_t slot = 0; slot < kSlotCount; ++slot) {
        number((frame.storedSlots >> slot & 1u) != 0, frame.sym[static_cast<size_t>(slot)]);
    }
    Emit(csv, "%.6f,%s%s\n", Seconds(frame.startSample), kind, row.c_str());
}

void WriteSvg(OutputFile& svg, const char* title, const Analysis& analysis) {
    Emit(svg,
         "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
         "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%d\" height=\"%d\" viewBox=\"0 "
         "0 %d %d\" "
         "font-family=\"sans-serif\" font-size=\"12\">\n"
         "<rect width=\"%d\" height=\"%d\" fill=\"white\"/>\n"
         "<text x=\"%d\" y=\"28\" text-anchor=\"middle\" font-size=\"16\">%s</text>\n",
         kSvgWidth, kSvgHeight, kSvgWidth, kSvgHeight, kSvgWidth, kSvgHeight, kSvgWidth / 2,
         XmlText(title).c_str());
    SvgHistogram(svg, analysis.runs);
    SvgPos1Track(svg, analysis);
    Emit(svg, "</svg>\n");
}
