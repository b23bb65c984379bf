// Run log: the array of raw run lengths that log mode fills (AppendRun), and its file.
// Threads: Create runs on the main thread before capture starts, WriteLogFile on the main thread
// after capture has been stopped and closed; in between only the audio thread writes the record,
// through AppendRun.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "common/shared_types.h"

// Largest accepted capacity is MaxLogEntries - 1: from 2^30 entries on, capacity x 4 bytes no
// longer fits a 32-bit size.
inline constexpr int64_t MaxLogEntries = int64_t{1} << 30;

// Reads a count the way the C library's atol does (leading white space, an optional sign, then
// decimal digits up to the first non-digit; 0 when there are no digits), but saturates instead of
// overflowing: the result is clamped to [-2^31, 2^31 - 1], and anything of MaxLogEntries or more
// is refused by Create anyway.
int64_t ReadCount(const char* word);

// Sets up `log` from the command line: path <- fileName, capacity <- ReadCount(nbSamples),
// entries <- capacity zero-filled entries (allocated without touching the pages up front, so even
// a huge log starts at once), count <- 0. Returns 0, or prints to `out` and returns exit code 1:
//   "ERROR NbSamples out of range \"<word>\"\n"   negative, or MaxLogEntries or more
//   "ERROR not enough memory for <n> entries\n"   the array cannot be allocated
int32_t Create(common::RunLog& log, const char* fileName, const char* nbSamples, FILE* out);

// Log file: headerless, exactly capacity x 4 bytes; entry k sits at bytes 4k..4k+3 as a 32-bit
// signed little-endian run length in samples at 44 100 Hz. Entry 0 is a Low run and the levels
// alternate from there (even entries Low, odd High). When the tool was stopped before the log was
// full, entries from `count` on are zero.
//
// Prints "Writing logfile...\n", writes all `capacity` entries to `path` (created or truncated)
// and releases the entries. Returns the exit code:
//   0  the whole file was written and closed
//   1  "ERROR opening file \"<path>\"\n": the file could not be opened; nothing written
//   1  "ERROR writing to file \"<path>\"\n": a short write, or a failure when flushing or closing
//      (where a full disk shows up with buffered output); a log that lost data is not a success
int32_t WriteLogFile(common::RunLog& log, FILE* out);

// Log mode's consumer of the slicer's runs, on the audio thread: stores one run in the log. The
// log starts with a Low run and then alternates; once it is full, every further run sets
// stopRequested and is dropped.
void AppendRun(common::RunLog& log, common::SharedStatus& status, common::Run run);

// The entries `vorlank L` would store for `count` bytes of samples, had capture begun at the
// first sample and had its log room for every run (so a leading High run is left out), for the
// tests and the benchmark tools.
std::vector<int32_t> LoggedRuns(const uint8_t* bytes, size_t count);
