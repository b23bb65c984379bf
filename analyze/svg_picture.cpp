#include "analyze/svg_picture.h"

#include <algorithm>
#include <bitset>
#include <cinttypes>
#include <cmath>
#include <string>
#include <vector>

#include "analyze/report_figures.h"
#include "decode/frame_decoder.h"

namespace analyze {

namespace {

constexpr int kSvgWidth = 960;
constexpr double kPlotLeft = 80.0;
constexpr double kPlotRight = 930.0;
constexpr double kHistTop = 70.0;
constexpr double kHistBottom = 300.0;
constexpr double kTrackTop = 390.0;
constexpr double kTrackBottom = 610.0;
constexpr double kTimelineTop = 700.0;
constexpr double kTimelineBottom = 860.0;
constexpr double kErrorsTop = 940.0;  // the section of error waveforms, its heading
constexpr double kPanelTop = 960.0;   // the first error waveform
constexpr double kPanelHeight = 230.0;
constexpr double kPanelPlot = 150.0;  // height of a waveform's plot
// A run narrower than this many pixels gets no label of its cells.
constexpr double kLabelPixels = 7.0;
// The count axis starts at half a run, so that a single run still shows as a short bar.
constexpr double kCountAxisBase = 0.5;

// File names may hold anything; the picture's title keeps printable ASCII and escapes XML.
std::string XmlText(const char* text) {
    std::string escaped;
    for (const char* p = text; *p != '\0'; ++p) {
        const auto c = static_cast<unsigned char>(*p);
        if (c == '&' || c == '<' || c == '>' || c == '"') {
            escaped += c == '&' ? "&amp;" : c == '<' ? "&lt;" : c == '>' ? "&gt;" : "&quot;";
        } else {
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

// The x of time `t` on a plot of `seconds` of input; later times stay at its right edge.
double TimeX(double t, double seconds) {
    return kPlotLeft + (kPlotRight - kPlotLeft) * std::min(t / seconds, 1.0);
}

// Seconds of input a plot spans: at least one sample, so that an empty input still has an axis.
double PlottedSeconds(const Analysis& a) {
    return std::max(Seconds(DurationSamples(a)), 1.0 / common::kSampleRateHz);
}

// A horizontal grid line across the plot at `y`, labelled with `value` on the left.
void GridLine(OutputFile& svg, double y, double value) {
    Emit(svg,
         "<line x1=\"%g\" y1=\"%.1f\" x2=\"%g\" y2=\"%.1f\" stroke=\"#dddddd\"/>"
         "<text x=\"%g\" y=\"%.1f\" text-anchor=\"end\">%.10g</text>\n",
         kPlotLeft, y, kPlotRight, y, kPlotLeft - 6, y + 4, value);
}

// A section's heading, at `y`.
void Heading(OutputFile& svg, double y, const char* text) {
    Emit(svg, "<text x=\"%g\" y=\"%g\" font-size=\"14\">%s</text>\n", kPlotLeft, y, text);
}

// The time axis under a plot of `seconds` of input whose bottom is at `bottom`.
void TimeAxis(OutputFile& svg, double seconds, double bottom, const char* caption) {
    const double step = NiceStep(seconds, 8);
    for (double t = 0.0; t <= seconds * (1.0 + 1e-9); t += step) {
        const double x = kPlotLeft + (kPlotRight - kPlotLeft) * t / seconds;
        Emit(svg, "<text x=\"%.1f\" y=\"%g\" text-anchor=\"middle\">%g</text>\n", x, bottom + 16,
             t);
    }
    Emit(svg,
         "<line x1=\"%g\" y1=\"%g\" x2=\"%g\" y2=\"%g\" stroke=\"black\"/>"
         "<text x=\"%g\" y=\"%g\">%s</text>\n",
         kPlotLeft, bottom, kPlotRight, bottom, kPlotLeft, bottom + 36, caption);
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

    Heading(svg, kHistTop - 14, "Run lengths in bit cells (runs, logarithmic)");
    for (int d = 0; d <= decades; ++d) GridLine(svg, y(std::pow(10.0, d)), std::pow(10.0, d));
    const size_t labelEvery = bars <= 42 ? 1 : bars <= 84 ? 5 : 10;
    for (size_t i = 0; i < bars; ++i) {
        const bool longRuns = i == bars - 1;
        const int64_t count = longRuns ? stats.longRuns : byCells[i];
        const double x = kPlotLeft + slot * static_cast<double>(i);
        if (count > 0) {
            const char* colour = longRuns                                   ? kSvgOtherRunColour
                                 : i == common::kSyncCells                  ? kSvgSyncRunColour
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
    const double seconds = PlottedSeconds(a);
    const auto y = [](double v) {
        return kTrackBottom - (kTrackBottom - kTrackTop) * v / common::kPos1Max;
    };

    Heading(svg, kTrackTop - 14, "Pos1 over time");
    for (int v : {0, 256, 512, 768, common::kPos1Max}) GridLine(svg, y(v), v);
    TimeAxis(svg, seconds, kTrackBottom, "seconds");
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
        const double bx = TimeX((static_cast<double>(i) + 0.5) * bucketSeconds, seconds);
        Emit(svg, "%.2f,%.2f %.2f,%.2f ", bx, y(b.low), bx, y(b.high));
    }
    Emit(svg, "\"/>\n");
}

// Frames and errors per second in each bucket of the timeline, as bars on one axis so that their
// sizes compare. A bucket cut short by the end of the input counts over the time it covers.
void SvgTimeline(OutputFile& svg, const Analysis& a) {
    const double seconds = PlottedSeconds(a);
    const double bucketSeconds = Seconds(a.timeline.bucketSamples);
    const auto rate = [&](size_t i, int32_t count) {
        const double start = static_cast<double>(i) * bucketSeconds;
        const double span = std::min(start + bucketSeconds, seconds) - start;
        return span > 0.0 ? count / span : 0.0;
    };
    double highest = 1.0;
    for (size_t i = 0; i < a.timeline.buckets.size(); ++i) {
        const TimelineBucket& b = a.timeline.buckets[i];
        highest = std::max({highest, rate(i, b.frames), rate(i, b.errors)});
    }
    const double step = NiceStep(highest, 4);
    const double top = std::ceil(highest / step) * step;
    const auto y = [&](double r) {
        return kTimelineBottom - (kTimelineBottom - kTimelineTop) * r / top;
    };

    Heading(svg, kTimelineTop - 14, "Frames (cyan) and decoding errors (orange) per second");
    for (double r = 0.0; r <= top * (1.0 + 1e-9); r += step) GridLine(svg, y(r), r);
    for (size_t i = 0; i < a.timeline.buckets.size(); ++i) {
        const TimelineBucket& b = a.timeline.buckets[i];
        const double start = static_cast<double>(i) * bucketSeconds;
        if (start >= seconds) break;
        const double left = TimeX(start, seconds);
        const double width = TimeX(start + bucketSeconds, seconds) - left;
        const struct {
            int32_t count;
            const char* colour;
            double inset;  // errors stand narrower in front of the frames
        } bars[] = {{b.frames, kSvgFramesColour, 0.05}, {b.errors, kSvgErrorsColour, 0.3}};
        for (const auto& bar : bars) {
            if (bar.count == 0) continue;
            const double r = rate(i, bar.count);
            Emit(svg,
                 "<rect x=\"%.2f\" y=\"%.2f\" width=\"%.2f\" height=\"%.2f\" fill=\"%s\" "
                 "shape-rendering=\"crispEdges\"><title>%g s: %.1f/s</title></rect>\n",
                 left + width * bar.inset, y(r), width * (1.0 - 2.0 * bar.inset),
                 kTimelineBottom - y(r), bar.colour, start, r);
        }
    }
    char caption[64];
    std::snprintf(caption, sizeof caption, "seconds (bars of %g s)", bucketSeconds);
    TimeAxis(svg, seconds, kTimelineBottom, caption);
}

std::string WhatFailed(const decode::DecodeEvent& event) {
    if (event.kind == decode::DecodeEventKind::BadHeader) {
        return "bad header " + std::bitset<common::kHeaderBits>(event.value).to_string() + " (" +
               std::to_string(event.value) + ")";
    }
    return "invalid code word " + std::bitset<common::kCodeWordBits>(event.word).to_string() +
           " in slot " + std::to_string(event.slot);
}

void SvgErrorWindow(OutputFile& svg, const ErrorWindow& w, int32_t number, double top) {
    const double plotTop = top + 24;
    const double plotBottom = plotTop + kPanelPlot;
    const int64_t origin = w.gaveUpAt - kTraceBefore;  // the window's left edge, even at the start
    const auto x = [&](int64_t n) {
        return kPlotLeft +
               (kPlotRight - kPlotLeft) * static_cast<double>(n - origin) / kTraceSamples;
    };
    double low = 0.0;
    double high = 1.0;
    for (int32_t k = 0; k < w.pointCount; ++k) {
        const TracePoint& p = w.points[static_cast<size_t>(k)];
        low = std::min({low, static_cast<double>(p.sample), p.lower});
        high = std::max({high, static_cast<double>(p.sample), p.upper});
    }
    const double pad = (high - low) * 0.08;
    const auto y = [&](double v) {
        return plotBottom - (plotBottom - plotTop) * (v - low + pad) / (high - low + 2 * pad);
    };

    Emit(svg, "<text x=\"%g\" y=\"%g\" font-size=\"13\">Error %d at %.6f s: %s</text>\n", kPlotLeft,
         top + 14, number, Seconds(w.gaveUpAt), WhatFailed(w.event).c_str());
    // Runs as bands, every other one shaded, each labelled with its length in cells; runs too
    // short for a single cell, which flip the level without adding a bit, stand out.
    for (int32_t r = 0; r < w.runCount; ++r) {
        const TracedRun& run = w.runs[static_cast<size_t>(r)];
        const double left = x(std::max(run.start, w.firstSample));
        const double right = x(run.start + run.length);
        const int32_t cells = decode::CellsInRun(run.length);
        const char* fill = cells == 0 ? kSvgGlitchColour : r % 2 == 0 ? "#eeeeee" : "none";
        Emit(svg,
             "<rect x=\"%.2f\" y=\"%g\" width=\"%.2f\" height=\"%g\" fill=\"%s\">"
             "<title>%d samples, %d cells</title></rect>\n",
             left, plotTop, right - left, kPanelPlot, fill, run.length, cells);
        if (right - left >= kLabelPixels) {
            Emit(svg,
                 "<text x=\"%.2f\" y=\"%g\" text-anchor=\"middle\" font-size=\"9\">%d</text>\n",
                 (left + right) / 2, plotTop + 10, cells);
        }
    }
    // The envelopes, the threshold between them, and the samples on top.
    const struct {
        const char* colour;
        const char* width;
        double (*value)(const TracePoint&);
    } lines[] = {
        {kSvgEnvelopeColour, "1.5", [](const TracePoint& p) { return p.upper; }},
        {kSvgEnvelopeColour, "1.5", [](const TracePoint& p) { return p.lower; }},
        {kSvgThresholdColour, "1.5", [](const TracePoint& p) { return (p.lower + p.upper) * 0.5; }},
        {kSvgSampleColour, "2", [](const TracePoint& p) { return static_cast<double>(p.sample); }},
    };
    for (const auto& line : lines) {
        Emit(svg,
             "<polyline fill=\"none\" stroke=\"%s\" stroke-width=\"%s\" "
             "shape-rendering=\"crispEdges\" points=\"",
             line.colour, line.width);
        for (int32_t k = 0; k < w.pointCount; ++k)
            Emit(svg, "%.1f,%.1f ", x(w.firstSample + k),
                 y(line.value(w.points[static_cast<size_t>(k)])));
        Emit(svg, "\"/>\n");
    }
    Emit(svg,
         "<line x1=\"%.2f\" y1=\"%g\" x2=\"%.2f\" y2=\"%g\" stroke=\"%s\" stroke-width=\"3\" "
         "shape-rendering=\"crispEdges\"/>"
         "<text x=\"%.2f\" y=\"%g\" text-anchor=\"end\" fill=\"%s\">gave up</text>\n",
         x(w.gaveUpAt), plotTop, x(w.gaveUpAt), plotBottom, kSvgGaveUpColour, x(w.gaveUpAt) - 4,
         plotBottom - 6, kSvgGaveUpColour);
    // Time in milliseconds from the point where the decoder gave up.
    const double msPerSample = 1000.0 / common::kSampleRateHz;
    const double tick = NiceStep(kTraceSamples * msPerSample, 10);
    for (double ms = -std::floor(kTraceBefore * msPerSample / tick) * tick;
         ms <= kTraceAfter * msPerSample; ms += tick) {
        const double at =
            x(w.gaveUpAt) + (kPlotRight - kPlotLeft) * ms / msPerSample / kTraceSamples;
        Emit(svg, "<text x=\"%.1f\" y=\"%g\" text-anchor=\"middle\">%g</text>\n", at,
             plotBottom + 16, std::round(ms * 1000.0) / 1000.0);
    }
    Emit(svg,
         "<line x1=\"%g\" y1=\"%g\" x2=\"%g\" y2=\"%g\" stroke=\"black\"/>"
         "<text x=\"%g\" y=\"%g\">ms from where the decoder gave up; samples (purple), envelopes "
         "(olive), threshold (pink), runs with their cells</text>\n",
         kPlotLeft, plotBottom, kPlotRight, plotBottom, kPlotLeft, plotBottom + 34);
}

int32_t ErrorPanels(const Analysis& a) {
    return a.errors != nullptr ? a.errors->windowsDone : 0;
}

void SvgErrors(OutputFile& svg, const Analysis& a) {
    const char* heading = "Waveform around the first decoding errors";
    if (a.kind == InputKind::RunLog) {
        heading = "Waveform around decoding errors: a run log holds no samples, a recording does";
    } else if (a.errors == nullptr) {
        heading = "Waveform around decoding errors: not traced";
    } else if (a.errors->windowsDone == 0) {
        heading = "Waveform around decoding errors: there were none";
    }
    Heading(svg, kErrorsTop, heading);
    for (int32_t i = 0; i < ErrorPanels(a); ++i) {
        SvgErrorWindow(svg, a.errors->windows[static_cast<size_t>(i)], i + 1,
                       kPanelTop + kPanelHeight * i);
    }
}

}  // namespace

void WriteSvg(OutputFile& svg, const char* title, const Analysis& analysis) {
    const int height = static_cast<int>(kPanelTop + kPanelHeight * ErrorPanels(analysis)) + 10;
    Emit(svg,
         "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
         "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%d\" height=\"%d\" viewBox=\"0 "
         "0 %d %d\" font-family=\"sans-serif\" font-size=\"12\">\n"
         "<rect width=\"%d\" height=\"%d\" fill=\"white\"/>\n"
         "<text x=\"%d\" y=\"28\" text-anchor=\"middle\" font-size=\"16\">%s</text>\n",
         kSvgWidth, height, kSvgWidth, height, kSvgWidth, height, kSvgWidth / 2,
         XmlText(title).c_str());
    SvgHistogram(svg, analysis.runs);
    SvgPos1Track(svg, analysis);
    SvgTimeline(svg, analysis);
    SvgErrors(svg, analysis);
    Emit(svg, "</svg>\n");
}

}  // namespace analyze
