// Run log: the array of raw run lengths that log mode fills, and its file. CreateRunLog runs on
// the main thread before capture starts, WriteLogFile after capture has stopped; in between only
// the audio thread writes the record, through AppendRun.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "common/shared_types.h"

namespace app {

// Sets up `log` for `runCount` zero-filled entries at `path`. The entries are allocated without
// touching their pages, so even a huge log starts at once. Returns 0, or prints
// kAppTexts.noMemory to `out` and returns exit code 1.
int32_t CreateRunLog(common::RunLog& log, const char* path, int32_t runCount, FILE* out);

// The log file: headerless, capacity x 4 bytes; entry k at bytes 4k..4k+3 is a 32-bit signed
// little-endian run length in samples at 44 100 Hz, entry 0 a Low run, then alternating. Entries
// from `count` on are zero when the tool was stopped before the log was full.
//
// Prints kAppTexts.writingLog, writes every entry to `log.path` (created or truncated) and
// releases the entries. Returns 0 once the whole file is written and closed; otherwise prints
// kAppTexts.cannotOpenLog or cannotWriteLog (a short write, or a failed flush or close, where a
// full disk shows up) and returns 1: a log that lost data is not a success.
int32_t WriteLogFile(common::RunLog& log, FILE* out);

// Log mode's consumer of the slicer's runs, on the audio thread. The log starts with a Low run;
// once it is full, every further run sets stopRequested and is dropped.
void AppendRun(common::RunLog& log, common::SharedStatus& status, common::Run run);

// The entries `vorlank L` would store for `count` bytes of samples, had capture begun at the
// first sample and had its log room for every run, for the tests and the benchmark tools.
std::vector<int32_t> LoggedRuns(const uint8_t* bytes, size_t count);

}  // namespace app
