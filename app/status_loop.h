// The status loop: a line of the shared words every kStatusPeriodMs until a stop is requested, and
// in log mode the journal's appends. Main thread only; while capture runs it is the one writer of
// standard output. The audio thread's words are read with relaxed loads, so a line may mix values
// from slightly different moments; nothing depends on that.
#pragma once

#include <cstdint>
#include <cstdio>

#include "app/diagnosis.h"
#include "app/journal.h"
#include "common/shared_types.h"

namespace app {

// Period of the status lines; the test-mode rate is frames per period times two, per second.
inline constexpr int32_t kStatusPeriodMs = 500;

// Waits `milliseconds`, or less when a stop request comes; `context` is the loop's sleepContext.
using SleepFunction = void (*)(void* context, int32_t milliseconds);

struct StatusLoop {
    common::Mode mode = common::Mode::Test;
    // Its stopRequested ends the loop; the loop sets it itself when `out` is gone.
    common::SharedStatus* status = nullptr;
    // Log mode only: its count is the #Transitions of the line.
    const common::RunLog* runLog = nullptr;
    // Log mode only, when there is one: appended every kJournalPeriodMs.
    Journal* journal = nullptr;
    // Every line is flushed as it is written.
    FILE* out = nullptr;
    // Says why the loop stopped when `out` is gone.
    FILE* diagnostics = nullptr;
    SleepFunction sleep = nullptr;
    void* sleepContext = nullptr;
    // pcmFrames read right after the previous test-mode line.
    int32_t framesAtLastLine = 0;
    // When there is one, ticked after every line: says on stderr why nothing decodes.
    Diagnosis* diagnosis = nullptr;
};

// Prints the line of the mode, then sleeps kStatusPeriodMs, for as long as stopRequested is 0;
// a stop during a sleep ends the loop without a further line. A line that cannot be written
// because standard output is gone (StandardOutputIsGone) sets stopRequested, says so once on
// `diagnostics` and ends the loop without sleeping.
void RunStatusLoop(StatusLoop& loop);

}  // namespace app
