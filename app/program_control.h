// Program control: the command line and the status loop that the main sequence runs.
//
// Command line: `T` (test mode) or `L FileName NbSamples` (log mode). Words are compared whole
// and case-sensitively, `T` before `L`; words after a complete form are ignored. Anything else
// prints the five-line usage text and ends the tool with exit code 1.
//
// Status loop: every 500 ms one line from the shared words, until stopRequested is set. In log
// mode every other line is followed by an append to the journal (about once a second). A line
// that cannot be written because standard output is gone (StandardOutputIsGone) sets
// stopRequested, says so once on stderr, and ends the loop at once. The sleep and the output are
// held in the StatusLoop record so tests can run the loop without waiting.
//
// Threads: everything here runs on the main thread. The loop reads pcmFrames, pcmErrors, pos1
// and the run log's count while the audio thread writes them; each is read whole with a relaxed
// load, so a line may mix values from slightly different moments, and nothing depends on that.
// The journal reads the count with acquire order (journal.h).
#pragma once

#include <cstdint>
#include <cstdio>

#include "app/diagnosis.h"
#include "app/journal.h"
#include "common/shared_types.h"

// Result of reading the command line.
struct CommandLine {
    int32_t exitCode = 0;  // 1 when the usage text was printed and the tool must end now
    common::Mode mode = common::Mode::Test;
    const char* fileName = nullptr;   // log mode: the second word, used unchanged as a path
    const char* nbSamples = nullptr;  // log mode: the third word, read by Create (run_log.h)
};

// `words` are the `count` words after the program name. On a command line that matches neither
// form, prints the usage text to `out` and returns exitCode 1.
CommandLine ParseCommandLine(int count, const char* const* words, FILE* out);

// Period of the status lines. The test-mode rate is frames per period times two, per second.
inline constexpr int32_t StatusPeriodMs = 500;

// Sleeps `milliseconds`; `context` is whatever the StatusLoop record carries for it.
using SleepFunction = void (*)(void* context, int32_t milliseconds);

// The real sleep of the running tool; needs no context.
void SleepMilliseconds(void* context, int32_t milliseconds);

struct StatusLoop {
    common::Mode mode = common::Mode::Test;
    common::SharedStatus* status = nullptr;  // stopRequested is set when standard output is gone
    const common::RunLog* runLog = nullptr;  // log mode only: its count is shown as #Transitions
    Journal* journal = nullptr;   // log mode only, when there is one: appended once a second
    FILE* out = nullptr;          // every line is flushed as it is written
    FILE* diagnostics = nullptr;  // says why the loop stopped when `out` is gone
    SleepFunction sleep = SleepMilliseconds;
    void* sleepContext = nullptr;
    int32_t framesAtLastLine = 0;  // pcmFrames read right after the previous test-mode line
    // When there is one, ticked after every line: says on stderr why nothing decodes.
    app::Diagnosis* diagnosis = nullptr;
};

// Prints the status line of the mode, then sleeps StatusPeriodMs, for as long as stopRequested
// is 0. The stop request is checked before the first line and after every sleep, so a stop
// during a sleep ends the loop without a further line. There is no other way out: when `out` is
// gone the loop sets stopRequested itself, prints
//   "vorlank: standard output is gone (<reason>); stopping\n"
// to `diagnostics` and leaves through the same check, without sleeping.
void RunStatusLoop(StatusLoop& loop);
