// Warnings of vorlank-analyze that point at a mistake in how the input was given, read off a
// finished analysis: a run log that holds no such runs as the signal's, and bit cells whose length
// fits another sample rate than the one the input was read at. Each is one line for standard
// error, without the program's and the input's name; empty when there is nothing to say. Threads:
// pure functions.
#pragma once

#include <string>

#include "analyze/report_figures.h"

namespace analyze {

// The warnings as printf formats, in the order of their arguments.
inline constexpr struct AdviceTexts {
    // Runs, runs of 1 to 8 bit cells, mean seconds per run
    const char* notRunLog =
        "warning: read as a run log, but its runs do not look like the signal's: %lld runs, %lld "
        "of 1 to 8 bit cells, %.1f s each on average; a run log of the signal holds thousands of "
        "runs a second";
    // Measured cell length, its deviation, the decoder's; one of the three questions follows
    const char* cellsOff =
        "the bit cells measure %.3f samples, %+.1f%% off the %.3f the decoder expects: ";
    const char* tryRate = "is the input %d Hz? try --rate %d";
    const char* tryRateAndFormat =
        "is the input %d Hz, or are its samples not %s? give --rate "
        "and --format as it was recorded";
    const char* rateOrClock =
        "is the input %d Hz rather than %d Hz, or the transmitter's clock that far off?";
} kAdviceTexts;

// A run log of the signal holds thousands of runs a second, nearly all of 1 to 8 bit cells; one
// with none of those, or whose runs last more than a second each on average (a text file read as
// 32-bit entries makes runs of hours), was most likely no run log of `vorlank L`.
std::string RunLogDoubt(const ReportFigures& figures);

// Bit cells fitted more than 5% away from the decoder's 6.623 samples: the sample rate that would
// bring them to 6.623 (a common one when one is near), with --rate to try for raw samples, or
// --format as well when no common rate fits (raw samples of another size than they were read as
// seem to have another rate). `request` is how the input was read.
std::string RateDoubt(const ReportFigures& figures, const InputRequest& request);

}  // namespace analyze
