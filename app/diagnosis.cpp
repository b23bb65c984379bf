#include "app/diagnosis.h"

#include <algorithm>
#include <cmath>

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
// or stalls, the capture layer says so, and the few samples there are tell nothing.
constexpr double kMinSampleShare = 0.9;
// Frames begun, or sync runs, per second below which the signal counts as having no syncs: a
// frame lasts about 27 ms, so a real signal brings over 30.
constexpr int64_t kMinSyncsPerSecond = 1;
// Failed frames per 10 begun above which nearly all fail.
constexpr int64_t kFailTenths = 9;

void AddToWord(std::atomic<int32_t>& word, uint32_t amount) {
    common::WriteWord(word,
                      static_cast<int32_t>(static_cast<uint32_t>(common::ReadWord(word)) + amount));
}

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

void Say(const Diagnosis& d, DiagnosisKind kind, const HearingFigures& f) {
    const int64_t begun = int64_t{f.frames} + f.errors;
    switch (kind) {
        case DiagnosisKind::Silent:
            std::fprintf(d.out, kDiagnosisTexts.silent, Dbfs(f.peak));
            break;
        case DiagnosisKind::NoSync:
            std::fprintf(d.out, kDiagnosisTexts.noSync, Dbfs(f.peak), PerSecond(f.runs, f.windowMs),
                         common::kSyncCells);
            break;
        case DiagnosisKind::AllFail:
            std::fprintf(d.out, kDiagnosisTexts.allFail, PerSecond(begun, f.windowMs),
                         static_cast<int32_t>((f.errors * int64_t{100} + begun / 2) / begun),
                         PerSecond(f.errors, f.windowMs));
            break;
        case DiagnosisKind::Fine:
            if (d.mode == common::Mode::Test) {
                std::fprintf(d.out, kDiagnosisTexts.framesAgain, PerSecond(f.frames, f.windowMs));
            } else {
                std::fprintf(d.out, kDiagnosisTexts.syncRunsAgain,
                             PerSecond(f.syncRuns, f.windowMs));
            }
            break;
        case DiagnosisKind::None:
            return;
    }
    std::fflush(d.out);
}

}  // namespace

void NoteBlock(HearingWords& words, const decode::RunSlicer& slicer, uint32_t samples, int32_t runs,
               int32_t syncRuns) {
    AddToWord(words.samples, samples);
    AddToWord(words.runs, static_cast<uint32_t>(runs));
    if (syncRuns != 0) AddToWord(words.syncRuns, static_cast<uint32_t>(syncRuns));
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
    return f.peak < kSilentPeak ? DiagnosisKind::Silent : DiagnosisKind::NoSync;
}

HearingFigures WindowFigures(const Diagnosis& d) {
    HearingFigures f;
    if (d.taken < kRingSize) return f;
    // Once the ring is full, the slot written next holds the oldest snapshot.
    const HearingSnapshot& oldest = d.ring[d.next];
    const HearingSnapshot& newest = d.ring[(d.next + kRingSize - 1) % kRingSize];
    // Unsigned differences: right across a wrap of the counters.
    f.windowMs = kDiagnosisWindowTicks * d.tickMs;
    f.samples = static_cast<int32_t>(newest.samples - oldest.samples);
    f.runs = static_cast<int32_t>(newest.runs - oldest.runs);
    f.syncRuns = static_cast<int32_t>(newest.syncRuns - oldest.syncRuns);
    f.frames = static_cast<int32_t>(newest.frames - oldest.frames);
    f.errors = static_cast<int32_t>(newest.errors - oldest.errors);
    int32_t amplitude = 0;
    for (int32_t i = 0; i < kRingSize; ++i) {
        if (i != d.next) amplitude = std::max(amplitude, d.ring[i].amplitude);
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

    const HearingFigures figures = WindowFigures(d);
    const DiagnosisKind kind = Diagnose(d.mode, figures);
    if (kind == DiagnosisKind::None || kind == d.said) return DiagnosisKind::None;
    d.said = kind;
    Say(d, kind, figures);
    return kind;
}

}  // namespace app
