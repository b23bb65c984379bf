#include "app/diagnosis.h"

#include <algorithm>
#include <cmath>

#include "app/texts.h"

namespace app {

namespace {

constexpr int32_t kRingSize = kDiagnosisWindowTicks + 1;
// Sample value of full scale, the reference of dBFS.
constexpr double kFullScale = 32768.0;
// Peak below which the input counts as silent, in sample units: about -60 dBFS. A line input with
// nothing on it idles far below; a signal the slicer can cut lies far above.
constexpr double kSilentPeak = 32.0;
// Shown for a peak below it, in sample units: a closed envelope gap (digital silence) is 0..1.1.
constexpr double kSmallestPeak = 0.5;
// Share of the window's samples that must have arrived for a judgement: when the input is away
// or stalls, the capture layer says so, and the few samples there are tell nothing. A sound
// server may take 2 s after the input opens before it hands over the first samples, and the
// first judgement should still come about 5 s after the start.
constexpr double kMinSampleShare = 0.6;
// Judgements in a row a kind needs before it is said: one status line of grace keeps a signal
// on the edge of two kinds from saying a line each time, and lets the line show what the input
// carries now.
constexpr int32_t kConfirmTicks = 2;
// Status lines whose figures a line shows: the last one, all of it heard as the kind said (the
// window may still hold what the input carried before).
constexpr int32_t kShownTicks = 1;
// Frames begun, or sync runs, per second below which the signal counts as having no syncs: a
// frame lasts about 27 ms, so a real signal brings over 30.
constexpr int64_t kMinSyncsPerSecond = 1;
// Failed frames per 10 begun above which nearly all fail.
constexpr int64_t kFailTenths = 9;

bool AtLeastOncePerSecond(int64_t count, int32_t windowMs) {
    return count * 1000 >= kMinSyncsPerSecond * windowMs;
}

int32_t PerSecond(int64_t count, int32_t windowMs) {
    return static_cast<int32_t>((count * 1000 + windowMs / 2) / windowMs);
}

int32_t Dbfs(double peak) {
    return static_cast<int32_t>(
        std::lround(20.0 * std::log10(std::max(peak, kSmallestPeak) / kFullScale)));
}

void Say(const Diagnosis& d, DiagnosisKind kind) {
    const HearingFigures f = FiguresOver(d, kShownTicks);
    const int64_t begun = int64_t{f.frames} + f.errors;
    switch (kind) {
        case DiagnosisKind::Silent:
            PrintText(d.out, kDiagnosisTexts.silent, Dbfs(f.peak));
            break;
        case DiagnosisKind::NoSync:
            PrintText(d.out, kDiagnosisTexts.noSync, Dbfs(f.peak), PerSecond(f.runs, f.windowMs),
                      common::kSyncCells);
            break;
        case DiagnosisKind::AllFail:
            PrintText(d.out, kDiagnosisTexts.allFail, PerSecond(begun, f.windowMs),
                      static_cast<int32_t>((f.errors * int64_t{100} + begun / 2) /
                                           std::max<int64_t>(begun, 1)),
                      PerSecond(f.errors, f.windowMs));
            break;
        case DiagnosisKind::Fine:
            if (d.mode == common::Mode::Test) {
                PrintText(d.out, kDiagnosisTexts.framesAgain, PerSecond(f.frames, f.windowMs));
            } else {
                PrintText(d.out, kDiagnosisTexts.syncRunsAgain, PerSecond(f.syncRuns, f.windowMs));
            }
            break;
        case DiagnosisKind::None:
            break;
    }
}

}  // namespace

void NoteBlock(HearingWords& words, const decode::RunSlicer& slicer, uint32_t samples, int32_t runs,
               int32_t syncRuns) {
    common::AddToCounter(words.samples, samples);
    common::AddToCounter(words.runs, static_cast<uint32_t>(runs));
    if (syncRuns != 0) common::AddToCounter(words.syncRuns, static_cast<uint32_t>(syncRuns));
    // The slicer keeps upper at or above lower, and both within 16 bits.
    const double halfGap = (slicer.upper - slicer.lower) * 0.5;
    common::WriteWord(words.amplitude, static_cast<int32_t>(halfGap * kAmplitudeScale));
}

DiagnosisKind Diagnose(common::Mode mode, const HearingFigures& f) {
    if (f.windowMs <= 0) return DiagnosisKind::None;
    const double expected = static_cast<double>(f.windowMs) * common::kSampleRateHz / 1000.0;
    if (f.samples < kMinSampleShare * expected) return DiagnosisKind::None;
    if (mode == common::Mode::Test) {
        // Every frame that begins ends either complete or failed.
        const int64_t begun = int64_t{f.frames} + f.errors;
        const bool nearlyAllFail = f.errors * int64_t{10} > begun * kFailTenths;
        if (f.frames > 0 && !nearlyAllFail) return DiagnosisKind::Fine;
        if (AtLeastOncePerSecond(begun, f.windowMs)) return DiagnosisKind::AllFail;
    } else if (AtLeastOncePerSecond(f.syncRuns, f.windowMs)) {
        return DiagnosisKind::Fine;
    }
    if (f.peak < kSilentPeak) return DiagnosisKind::Silent;
    // A level without changes is not sound: the envelopes still closing in after a signal stopped
    // (up to 7 s after a full-scale one), or a constant offset while they do. Silent follows once
    // they have met.
    if (!AtLeastOncePerSecond(f.runs, f.windowMs)) return DiagnosisKind::None;
    return DiagnosisKind::NoSync;
}

HearingFigures FiguresOver(const Diagnosis& d, int32_t ticks) {
    HearingFigures f;
    if (d.taken <= ticks) return f;
    const int32_t first = (d.next + kRingSize - 1 - ticks) % kRingSize;
    const HearingSnapshot& oldest = d.ring[first];
    const HearingSnapshot& newest = d.ring[(d.next + kRingSize - 1) % kRingSize];
    // Unsigned differences: right across a wrap of the counters.
    f.windowMs = ticks * d.tickMs;
    f.samples = static_cast<int32_t>(newest.samples - oldest.samples);
    f.runs = static_cast<int32_t>(newest.runs - oldest.runs);
    f.syncRuns = static_cast<int32_t>(newest.syncRuns - oldest.syncRuns);
    f.frames = static_cast<int32_t>(newest.frames - oldest.frames);
    f.errors = static_cast<int32_t>(newest.errors - oldest.errors);
    // The level at the end of each span, not at its start.
    int32_t amplitude = 0;
    for (int32_t i = 1; i <= ticks; ++i) {
        amplitude = std::max(amplitude, d.ring[(first + i) % kRingSize].amplitude);
    }
    f.peak = static_cast<double>(amplitude) / kAmplitudeScale;
    return f;
}

DiagnosisKind TickDiagnosis(Diagnosis& d) {
    HearingSnapshot& s = d.ring[d.next];
    s.samples = static_cast<uint32_t>(common::ReadWord(d.words->samples));
    s.amplitude = common::ReadWord(d.words->amplitude);
    s.runs = static_cast<uint32_t>(common::ReadWord(d.words->runs));
    s.syncRuns = static_cast<uint32_t>(common::ReadWord(d.words->syncRuns));
    s.frames = static_cast<uint32_t>(common::ReadWord(d.status->pcmFrames));
    s.errors = static_cast<uint32_t>(common::ReadWord(d.status->pcmErrors));
    d.next = (d.next + 1) % kRingSize;
    d.taken = std::min(d.taken + 1, kRingSize);

    const DiagnosisKind kind = Diagnose(d.mode, FiguresOver(d, kDiagnosisWindowTicks));
    d.heardTicks = kind == d.heard ? std::min(d.heardTicks + 1, kConfirmTicks) : 1;
    d.heard = kind;
    if (kind == DiagnosisKind::None || kind == d.said || d.heardTicks < kConfirmTicks) {
        return DiagnosisKind::None;
    }
    d.said = kind;
    Say(d, kind);
    return kind;
}

}  // namespace app
