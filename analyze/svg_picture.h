// The picture vorlank-analyze draws (--svg), 960 pixels wide: the run-length histogram in cells
// (logarithmic counts), Pos1 over time, frames and errors per second, and for samples the waveform
// around each of the first kMaxTracedErrors decoding errors (samples, envelopes, threshold, runs
// in cells, where the decoder gave up), which makes it grow taller. Threads: one caller.
#pragma once

#include "analyze/analysis.h"
#include "analyze/output_file.h"

namespace analyze {

void WriteSvg(OutputFile& svg, const char* title, const Analysis& analysis);

// Colours the picture uses, so a check of its rendering knows what to look for.
inline constexpr const char* kSvgDataRunColour = "#1f77b4";
inline constexpr const char* kSvgSyncRunColour = "#2ca02c";
inline constexpr const char* kSvgOtherRunColour = "#8c8c8c";
inline constexpr const char* kSvgPos1Colour = "#d62728";
inline constexpr const char* kSvgFramesColour = "#17becf";
inline constexpr const char* kSvgErrorsColour = "#ff7f0e";
inline constexpr const char* kSvgSampleColour = "#9467bd";
inline constexpr const char* kSvgEnvelopeColour = "#bcbd22";
inline constexpr const char* kSvgThresholdColour = "#e377c2";
inline constexpr const char* kSvgGaveUpColour = "#8b0000";
inline constexpr const char* kSvgGlitchColour = "#ffd8d8";  // runs too short for a single cell

}  // namespace analyze
