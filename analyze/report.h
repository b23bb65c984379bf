// What vorlank-analyze writes besides its picture: the text report, the same as JSON, the Pos1
// track and the frames as CSV; each line flushed as written, so a pipe shows it line by line.
// Threads: one caller; no shared state.
#pragma once

#include <cstdint>

#include "analyze/analysis.h"
#include "analyze/output_file.h"
#include "analyze/report_figures.h"

namespace analyze {

// The report: input, frames by kind, errors by kind, Pos1, runs and duration, the signal level of
// a recording, the fitted cell length with the worst rounding margins, and the run-length
// histogram in cells with the lengths in samples that make up each row.
void PrintReport(OutputFile& out, const ReportFigures& figures);

// The same report as one JSON object, numbers as numbers; signal is null for a run log, the fit's
// figures null when no run could be fitted.
void WriteJson(OutputFile& json, const ReportFigures& figures);

// Pos1 CSV: the header "seconds,pos1", then one row per Pos1 write: the time (seconds from the
// start of the input, to the sample) and the value 0..1023.
void WritePos1Header(OutputFile& csv);
void WritePos1Row(OutputFile& csv, int64_t atSample, int32_t value);

// Frames CSV: a row per frame a sync started, as it ended: start (s after the sync), kind, header,
// outcome, the failed slot and per slot the symbol stored (-1 for the invalid word); empty where
// there is none.
void WriteFramesHeader(OutputFile& csv);
void WriteFrameRow(OutputFile& csv, const FrameRecord& frame);

}  // namespace analyze
