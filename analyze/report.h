// What vorlank-analyze writes besides its picture (svg_picture.h): the plain-text report on
// standard output, the same report as JSON, the Pos1 track and the frames as CSV.
//
// Every text line is flushed as soon as it is written, so a report piped into another program or
// a console shows up line by line. A line that cannot be written is kept as the output's failure,
// for the caller to report.
//
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

// The same report as one JSON object, numbers as numbers: file, input, duration_s, runs, frames
// (total, kind_a, kind_b, per_s), errors (total, bad_headers, invalid_code_words), pos1 (value,
// writes, last_at_s), signal (null for a run log), cell_length, margins and near_misses (null
// when no run could be fitted), and histogram (rows of cells, runs, share_percent and lengths;
// long_runs).
void WriteJson(OutputFile& json, const ReportFigures& figures);

// Pos1 CSV: the header "seconds,pos1", then one row per Pos1 write: the time (seconds from the
// start of the input, to the sample) and the value 0..1023.
void WritePos1Header(OutputFile& csv);
void WritePos1Row(OutputFile& csv, int64_t atSample, int32_t value);

// Frames CSV: the header "start_s,kind,header,outcome,failed_slot,slot0,...,slot31", then one row
// per frame that a sync started, as it ended: the time of the first sample after the sync
// (seconds, to the microsecond); the kind A or B, empty when the header was neither or never
// read; the 6-bit header, empty when never read; the outcome (complete, bad_header, invalid_word,
// unfinished); the slot of the invalid word, else empty; and per slot the symbol stored there in
// this frame (0..63, -1 for the invalid word), empty where none was.
void WriteFramesHeader(OutputFile& csv);
void WriteFrameRow(OutputFile& csv, const FrameRecord& frame);

}  // namespace analyze
