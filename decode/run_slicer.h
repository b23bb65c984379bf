// Run slicer: cuts 16-bit samples into alternating High and Low runs with an adaptive threshold,
// and hands every finished run to the consumer of the mode.
//
// The threshold is the midpoint of two envelopes that jump to any sample beyond them and otherwise
// close in on each other by 0.1 per sample (4 410 per second), so the threshold follows the
// input's amplitude and DC offset. A run is delivered when the first sample of the next run
// arrives; a run still open at the end of a buffer continues into the next call, so buffers of any
// size give the same runs.
//
// Threads: SliceBuffer runs on the audio thread, one buffer at a time; the slicer record and the
// decoder are private to it. In log mode it writes the RunLog's entries and count and may set
// stopRequested; the main thread reads count live, and the entries below a count it has read
// (count is published with release order after the entry is stored).
#pragma once

#include <cstdint>

#include "common/shared_types.h"
#include "decode/frame_decoder.h"

// Where finished runs go. Set up once before capture starts.
struct RunConsumers {
    Mode mode = Mode::Test;
    FrameDecoder* decoder = nullptr;  // test mode
    RunLog* runLog = nullptr;         // log mode
    SharedStatus* status = nullptr;   // decoder outputs and stop request
};

struct RunSlicer {
    double upper = 0.0;   // upper envelope
    double lower = 0.0;   // lower envelope
    int32_t highRun = 0;  // samples in the open High run (0 while the open run is Low)
    int32_t lowRun = 0;   // samples in the open Low run (0 while the open run is High)
    RunConsumers out;
};

// Slices the first bytesRecorded / 2 samples of `data` (signed 16-bit little-endian; an odd
// trailing byte is ignored). Run counters hold at INT32_MAX rather than overflow.
void SliceBuffer(RunSlicer& slicer, const void* data, uint32_t bytesRecorded);

// Stores one run in the log. The log always starts with a Low run and then alternates; once it is
// full, every further run sets stopRequested and is dropped.
void AppendRun(RunLog& log, SharedStatus& status, Run run);
