// vorlank's own command line: `T` (test mode) or `L FileName NbSamples` (log mode), read on the
// main thread before anything else happens.
#pragma once

#include <cstdint>
#include <cstdio>

#include "common/shared_types.h"

namespace app {

// The largest run count is kMaxLogEntries - 1: from 2^30 entries on, the log's size in bytes
// no longer fits 32 bits.
inline constexpr int64_t kMaxLogEntries = int64_t{1} << 30;

struct CommandLine {
    // 1 when a text of kAppTexts was printed and the tool must end now.
    int32_t exitCode = 0;
    common::Mode mode = common::Mode::Test;
    // Log mode: the log file's path, as typed.
    const char* fileName = nullptr;
    // Log mode: the log's capacity, in runs.
    int32_t runCount = 0;
};

// `words` are the `count` words after the program name, compared whole and case-sensitively,
// `T` before `L`; words after a complete form are ignored. Anything else prints the usage text to
// `out`, a run count below 0 or from kMaxLogEntries on the out-of-range line; both give exit
// code 1.
CommandLine ParseCommandLine(int count, const char* const* words, FILE* out);

// Reads a count as the C library's atol does, but clamped to [-2^31, 2^31 - 1] instead of
// overflowing.
int64_t ReadCount(const char* word);

}  // namespace app
