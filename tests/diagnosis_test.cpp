// The diagnosis of an input that decodes nothing: the judgement of a window's figures, and the
// whole road from samples through the live pipeline to the lines said, tick by tick.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "app/diagnosis.h"
#include "app/pipeline.h"
#include "app_test_output.h"
#include "common/signal_format.h"
#include "synth/signal_synth.h"
#include "synth/wav_file.h"

namespace {

using app::DiagnosisKind;
using app::HearingFigures;
using common::Mode;

// Samples in a full 5 s window.
constexpr int32_t kFull = 5 * common::kSampleRateHz;

// A full 5 s window's figures.
HearingFigures Heard(int32_t samples, double peak, int32_t runs, int32_t syncRuns, int32_t frames,
                     int32_t errors) {
    return {5000, samples, peak, runs, syncRuns, frames, errors};
}

TEST(Diagnose, FiguresOfAWindowGiveTheKind) {
    using enum DiagnosisKind;
    struct Case {
        const char* name = "";
        Mode mode = Mode::Test;
        HearingFigures figures;
        DiagnosisKind kind = None;
    };
    const Case cases[] = {
        // samples, peak, runs, sync runs, frames, errors
        {"window not full yet", Mode::Test, {}, None},
        {"input away: 50 %", Mode::Test, Heard(kFull / 2, 0.5, 0, 0, 0, 0), None},
        {"digital silence", Mode::Test, Heard(kFull, 0.5, 0, 0, 0, 0), Silent},
        {"faint noise, -61 dBFS", Mode::Test, Heard(kFull, 29.0, 40000, 0, 0, 0), Silent},
        {"square wave", Mode::Test, Heard(kFull, 30000.0, 10000, 0, 0, 0), NoSync},
        {"envelopes closing, no change", Mode::Test, Heard(kFull, 9000.0, 4, 0, 0, 0), None},
        {"four stray syncs", Mode::Test, Heard(kFull, 3000.0, 9000, 0, 0, 4), NoSync},
        {"every frame fails", Mode::Test, Heard(kFull, 10000.0, 9000, 0, 0, 180), AllFail},
        {"95 % fail", Mode::Test, Heard(kFull, 10000.0, 9000, 0, 9, 171), AllFail},
        {"85 % fail", Mode::Test, Heard(kFull, 10000.0, 9000, 0, 27, 153), Fine},
        {"clean", Mode::Test, Heard(kFull, 10000.0, 9000, 0, 180, 0), Fine},
        {"clean and faint", Mode::Test, Heard(kFull, 20.0, 9000, 0, 180, 0), Fine},
        {"log: silence", Mode::Log, Heard(kFull, 0.5, 0, 0, 0, 0), Silent},
        {"log: square wave", Mode::Log, Heard(kFull, 30000.0, 10000, 0, 0, 0), NoSync},
        {"log: four stray sync runs", Mode::Log, Heard(kFull, 3000.0, 9000, 4, 0, 0), NoSync},
        {"log: a signal", Mode::Log, Heard(kFull, 10000.0, 9000, 180, 0, 0), Fine},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(app::Diagnose(c.mode, c.figures), c.kind) << c.name;
    }
}

std::vector<int16_t> Silence(int32_t seconds) {
    return std::vector<int16_t>(static_cast<size_t>(seconds * common::kSampleRateHz), 0);
}

// 1 kHz at 44 100 Hz: half periods of 22 samples, full of level changes, never a sync.
std::vector<int16_t> Square(int32_t seconds) {
    std::vector<int16_t> samples = Silence(seconds);
    for (size_t i = 0; i < samples.size(); ++i) samples[i] = (i / 22) % 2 == 0 ? 20000 : -20000;
    return samples;
}

std::vector<int16_t> Signal(int32_t seconds, void (*shape)(synth::SynthConfig&)) {
    synth::SynthConfig config;
    config.kinds = {synth::FrameKind::A, synth::FrameKind::B};
    config.sweep = true;
    shape(config);
    config.frameCount = synth::FramesForDuration(config, seconds);
    return synth::Synthesize(config).samples;
}

std::string Kind(int32_t tick, DiagnosisKind kind) {
    return std::to_string(tick) + ":" + std::to_string(static_cast<int>(kind));
}

// What the diagnosis says while `samples` play into the pipeline of `mode`, `perTick` samples
// between two status lines (22 050 in real time); each line as "tick:kind".
std::vector<std::string> Said(Mode mode, const std::vector<int16_t>& samples, size_t perTick) {
    // Log mode with a log of no room: every run is counted, none stored.
    app::Pipeline pipeline;
    CapturedOutput out;
    app::Diagnosis diagnosis{mode, &pipeline.status, &pipeline.hearing, out.file, 500};
    const std::vector<uint8_t> bytes = synth::SamplesToBytes(samples);
    std::vector<std::string> said;
    constexpr size_t kBlock = 1024;
    size_t next = 0;
    for (int32_t tick = 0;; ++tick) {
        const DiagnosisKind kind = app::TickDiagnosis(diagnosis);
        if (kind != DiagnosisKind::None) said.push_back(Kind(tick, kind));
        const size_t end = 2 * (static_cast<size_t>(tick) + 1) * perTick;
        if (end > bytes.size()) break;
        for (; next < end; next += kBlock) {
            const auto n = static_cast<uint32_t>(std::min(kBlock, end - next));
            (mode == Mode::Test ? app::DecodeBlock : app::LogBlock)(&pipeline, bytes.data() + next,
                                                                    n);
        }
    }
    // One line each, nothing else.
    const std::string text = out.Text();
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), static_cast<std::ptrdiff_t>(said.size()));
    return said;
}

TEST(TickDiagnosis, SaysWhatThePipelineHearsOnceAFullWindowHasPassedAndOnlyOnChange) {
    auto then = [](std::vector<int16_t> a, const std::vector<int16_t>& b) {
        a.insert(a.end(), b.begin(), b.end());
        return a;
    };
    auto clean = [](synth::SynthConfig&) {};
    auto noisy = [](synth::SynthConfig& c) { c.noise = 1500; };
    auto badWords = [](synth::SynthConfig& c) { c.badWords = true; };
    struct Case {
        const char* name;
        Mode mode;
        std::vector<int16_t> samples;
        // Samples between two ticks: 22 050 is real time; fewer is an input that stalls.
        size_t perTick;
        std::vector<std::string> said;
    };
    const Case cases[] = {
        {"silence", Mode::Test, Silence(7), 22050, {Kind(11, DiagnosisKind::Silent)}},
        {"square wave", Mode::Test, Square(7), 22050, {Kind(11, DiagnosisKind::NoSync)}},
        {"bad words", Mode::Test, Signal(7, badWords), 22050, {Kind(11, DiagnosisKind::AllFail)}},
        {"clean", Mode::Test, Signal(7, clean), 22050, {}},
        {"noisy", Mode::Test, Signal(7, noisy), 22050, {}},
        {"silence at half the rate", Mode::Test, Silence(7), 11025, {}},
        {"silence, then a signal",
         Mode::Test,
         then(Silence(6), Signal(2, clean)),
         22050,
         {Kind(11, DiagnosisKind::Silent), Kind(14, DiagnosisKind::Fine)}},
        {"a signal, then silence: no word of sound without syncs on the way",
         Mode::Test,
         then(Signal(3, clean), Silence(12)),
         22050,
         {Kind(21, DiagnosisKind::Silent)}},
        {"log: silence", Mode::Log, Silence(7), 22050, {Kind(11, DiagnosisKind::Silent)}},
        {"log: square wave", Mode::Log, Square(7), 22050, {Kind(11, DiagnosisKind::NoSync)}},
        {"log: clean", Mode::Log, Signal(7, clean), 22050, {}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Said(c.mode, c.samples, c.perTick), c.said) << c.name;
    }
}

}  // namespace
