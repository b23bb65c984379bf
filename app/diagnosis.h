// Why nothing decodes: the sound input's thread adds a few figures per block (HearingWords), and
// once per status line the main thread takes a snapshot of them, judges the last 5 s and says on
// stderr what the tool hears (silence, sound without syncs, frames that all fail), once per change.
// Threads: NoteBlock on the sound input's thread; the Diagnosis record and its functions on the
// main thread. The words are relaxed 32-bit atomics, each with that one writer.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>

#include "common/shared_types.h"
#include "common/signal_format.h"
#include "decode/run_slicer.h"

namespace app {

// What the sound input's thread has heard so far; the counters wrap.
struct HearingWords {
    // Samples received.
    std::atomic<int32_t> samples{0};
    // Half the gap between the slicer's envelopes at the end of the latest block, in 1/16 sample.
    std::atomic<int32_t> amplitude{0};
    // Runs ended, that is changes of level.
    std::atomic<int32_t> runs{0};
    // Log mode: runs ended whose length is a sync's.
    std::atomic<int32_t> syncRuns{0};
};

// Units of HearingWords::amplitude per sample unit.
inline constexpr int32_t kAmplitudeScale = 16;

// The shortest run, in samples, that the frame decoder rounds to `cells` cells or more: the
// decoder rounds length x cells-per-sample to nearest, so the first whose product plus one half
// reaches `cells`.
constexpr int32_t ShortestRunOf(int32_t cells) {
    int32_t length = 1;
    while (length * common::kCellsPerSample + 0.5 < cells) ++length;
    return length;
}
// Run lengths, in samples, that round to a sync's cells.
inline constexpr int32_t kSyncRunShortest = ShortestRunOf(common::kSyncCells);
inline constexpr int32_t kSyncRunLongest = ShortestRunOf(common::kSyncCells + 1) - 1;
static_assert(kSyncRunShortest == 116 && kSyncRunLongest == 122, "a sync run is 116-122 samples");

// One comparison: whether a run of `length` samples is as long as a sync.
inline bool IsSyncRun(int32_t length) {
    return static_cast<uint32_t>(length - kSyncRunShortest) <=
           static_cast<uint32_t>(kSyncRunLongest - kSyncRunShortest);
}

// Sound input's thread, once per block after the slicer: `samples` in the block, `runs` ended in
// it and, in log mode, `syncRuns` of them as long as a sync; the level is read off the slicer.
void NoteBlock(HearingWords& words, const decode::RunSlicer& slicer, uint32_t samples, int32_t runs,
               int32_t syncRuns);

// Every line the diagnosis writes to stderr, with the figures each is formatted with.
inline constexpr struct DiagnosisTexts {
    // Peak level in dBFS.
    const char* silent =
        "vorlank: no signal: the input is silent (peak %d dBFS); is the signal on the default "
        "input?\n";
    // Peak level in dBFS, changes of level per second, cells of a sync run.
    const char* noSync =
        "vorlank: no sync: the input carries sound (peak %d dBFS, %d level changes/s) but no sync "
        "run of %d cells; is it this kind of PCM signal?\n";
    // Frames begun per second, the share of them that failed in %, errors per second.
    const char* allFail =
        "vorlank: no frame: %d frames/s begin but %d %% of them fail (%d errors/s); the signal may "
        "be distorted: record it with vorlank L and study it with vorlank-analyze\n";
    // Test mode, after one of the above: frames per second.
    const char* framesAgain = "vorlank: frames decode again (%d frames/s)\n";
    // Log mode, after one of the above: sync runs per second.
    const char* syncRunsAgain = "vorlank: sync runs arrive again (%d/s)\n";
} kDiagnosisTexts;

// What the tool says it hears. None is no judgement: the window is not full yet, or too few
// samples arrived in it (the input is away or stalls, which the capture layer reports).
enum class DiagnosisKind : int32_t {
    None = 0,
    // Frames decode (test mode) or sync runs arrive (log mode).
    Fine,
    // Hardly any level: nothing reaches the input.
    Silent,
    // Sound, but (next to) no run as long as a sync.
    NoSync,
    // Test mode: frames begin, but nearly all of them fail.
    AllFail,
};

// What was heard over the window the judgement covers.
struct HearingFigures {
    // Length of the window, in ms.
    int32_t windowMs = 0;
    // Samples received in it.
    int32_t samples = 0;
    // Largest envelope half-gap seen, in sample units.
    double peak = 0.0;
    // Changes of level.
    int32_t runs = 0;
    // Log mode: runs as long as a sync.
    int32_t syncRuns = 0;
    // Test mode: frames completed, and frames that failed (bad header or invalid word).
    int32_t frames = 0;
    int32_t errors = 0;
};

// Judges what was heard; pure. Test mode: frames that mostly decode are Fine; frames that begin
// (at 1/s or more) but over 90 % of which fail are AllFail; otherwise, with no frame decoded, the
// level tells Silent (below about -60 dBFS) from NoSync. Log mode alike, with sync runs at 1/s or
// more Fine and no AllFail.
DiagnosisKind Diagnose(common::Mode mode, const HearingFigures& figures);

// Status lines the window spans: 5 s at the status loop's 500 ms.
inline constexpr int32_t kDiagnosisWindowTicks = 10;

// The words at one status line.
struct HearingSnapshot {
    uint32_t samples = 0;
    int32_t amplitude = 0;
    uint32_t runs = 0;
    uint32_t syncRuns = 0;
    uint32_t frames = 0;
    uint32_t errors = 0;
};

// The main thread's record: the last kDiagnosisWindowTicks + 1 snapshots, in a ring.
struct Diagnosis {
    common::Mode mode = common::Mode::Test;
    // pcmFrames and pcmErrors are read from here.
    const common::SharedStatus* status = nullptr;
    const HearingWords* words = nullptr;
    // Where the lines go (stderr); each is flushed.
    FILE* out = nullptr;
    // Time between two ticks, in ms: the status loop's period.
    int32_t tickMs = 0;
    HearingSnapshot ring[kDiagnosisWindowTicks + 1] = {};
    // Snapshots taken, held at the ring's size.
    int32_t taken = 0;
    // Slot of the next snapshot.
    int32_t next = 0;
    // The latest judgement, and how many ticks in a row it has been the same (held at 2).
    DiagnosisKind heard = DiagnosisKind::None;
    int32_t heardTicks = 0;
    // The last kind said; Fine while nothing wrong has been said.
    DiagnosisKind said = DiagnosisKind::Fine;
};

// The figures of the last `ticks` status lines' span, 1..kDiagnosisWindowTicks; all zero (no
// judgement) until that many ticks have passed.
HearingFigures FiguresOver(const Diagnosis& diagnosis, int32_t ticks);

// Once per status line: a snapshot, a judgement of the whole window, and a line on `out` when the
// same judgement twice in a row differs from the last one said (a judgement of None changes
// nothing); the line shows the figures of the last status line's span. Returns the kind said now,
// or None when nothing was written.
DiagnosisKind TickDiagnosis(Diagnosis& diagnosis);

}  // namespace app
