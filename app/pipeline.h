// The live tool's pipeline: what becomes of every block of samples the sound input fills.
// Threads: DecodeBlock and LogBlock run on the sound input's thread, one block at a time; the main
// thread reads the status words and the run log's count meanwhile (common/shared_types.h).
#pragma once

#include <cstdint>

#include "app/diagnosis.h"
#include "app/run_log.h"
#include "common/shared_types.h"
#include "decode/frame_decoder.h"
#include "decode/run_slicer.h"

namespace app {

// Every record a block passes through; the live tool has one, in main.
struct Pipeline {
    decode::RunSlicer slicer;
    decode::FrameDecoder decoder;
    // Log mode only.
    common::RunLog runLog;
    common::SharedStatus status;
    // What the blocks carried (level, runs, sync runs), for the diagnosis when nothing decodes.
    HearingWords hearing;
};

// What a decoder event changes in the words the test-mode status line shows: a completed frame
// counts in pcmFrames, a bad header or an invalid word in pcmErrors, and a new Pos1 is shown at
// once (it stays if its frame fails later).
inline void UpdateStatusWords(common::SharedStatus& status, const decode::DecodeEvent& event) {
    switch (event.kind) {
        case decode::DecodeEventKind::FrameComplete:
            common::AddToCounter(status.pcmFrames, 1);
            break;
        case decode::DecodeEventKind::BadHeader:
        case decode::DecodeEventKind::InvalidWord:
            common::AddToCounter(status.pcmErrors, 1);
            break;
        case decode::DecodeEventKind::Pos1Written:
            common::WriteWord(status.pos1, event.pos1);
            break;
        default:
            break;
    }
}

// Both are flattened so that, with link-time optimization, DecodeRun and AppendRun are inlined
// where the slicer's loop ends a run: a run costs no call.

// Test mode, a capture::SampleSink over a Pipeline:
// samples -> run slicer -> frame decoder -> status words.
[[gnu::flatten]] inline void DecodeBlock(void* pipeline, const void* samples, uint32_t bytes) {
    Pipeline& p = *static_cast<Pipeline*>(pipeline);
    int32_t runs = 0;
    decode::SliceBuffer(p.slicer, samples, bytes, [&p, &runs](common::Run run) {
        ++runs;
        UpdateStatusWords(p.status, decode::DecodeRun(p.decoder, run.length));
    });
    // Frames begun are frames completed plus frames failed: no sync count needed here.
    NoteBlock(p.hearing, p.slicer, bytes / 2, runs, 0);
}

// Log mode, a capture::SampleSink over a Pipeline: samples -> run slicer -> run log (and the stop
// request once it is full).
[[gnu::flatten]] inline void LogBlock(void* pipeline, const void* samples, uint32_t bytes) {
    Pipeline& p = *static_cast<Pipeline*>(pipeline);
    int32_t runs = 0;
    int32_t syncRuns = 0;
    decode::SliceBuffer(p.slicer, samples, bytes, [&p, &runs, &syncRuns](common::Run run) {
        ++runs;
        syncRuns += static_cast<int32_t>(IsSyncRun(run.length));
        AppendRun(p.runLog, p.status, run);
    });
    NoteBlock(p.hearing, p.slicer, bytes / 2, runs, syncRuns);
}

}  // namespace app
