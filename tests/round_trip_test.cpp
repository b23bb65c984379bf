// Round trips: synthesized signals through the run slicer and frame decoder, exactly as the
// capture stream would hand them over, buffer by buffer.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <ostream>
#include <string>
#include <tuple>
#include <vector>

#include "app/pipeline.h"
#include "app/run_log.h"
#include "decode/frame_decoder.h"
#include "decode/run_slicer.h"
#include "decode/symbol_code.h"
#include "synth/signal_synth.h"
#include "synth/wav_file.h"

namespace {

using common::ReadWord;
using common::RunLevel;
using synth::FrameKind;
using synth::SynthConfig;

struct Decoded {
    int32_t frames;
    int32_t errors;
    int32_t pos1;
    bool operator==(const Decoded&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Decoded& d) {
    return os << "{frames " << d.frames << ", errors " << d.errors << ", pos1 " << d.pos1 << "}";
}

// Feeds the samples in calls of `chunk` samples. With `trailingByte`, every call also gets one
// extra byte after its samples (an odd byte count), which the slicer must ignore.
Decoded Decode(const std::vector<int16_t>& samples, size_t chunk, bool trailingByte = false) {
    app::Pipeline rx;
    const std::vector<uint8_t> bytes = synth::SamplesToBytes(samples);
    std::vector<uint8_t> call;
    for (size_t at = 0; at < bytes.size(); at += 2 * chunk) {
        const size_t n = std::min(2 * chunk, bytes.size() - at);
        call.assign(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                    bytes.begin() + static_cast<std::ptrdiff_t>(at + n));
        // A byte that would read as a full-scale sample if it were taken as the start of one.
        if (trailingByte) call.push_back(static_cast<uint8_t>(0x80 ^ (at & 0x7F)));
        app::DecodeBlock(&rx, call.data(), static_cast<uint32_t>(call.size()));
    }
    return {ReadWord(rx.status.pcmFrames), ReadWord(rx.status.pcmErrors), ReadWord(rx.status.pos1)};
}

struct ChannelCase {
    const char* name;
    void (*shape)(SynthConfig&);
    // Frames the receiver may miss at the very start of the signal (0 or 1), see PositiveOffset.
    int32_t mayLoseFirst = 0;
};

const ChannelCase kChannels[] = {
    {"Clean", [](SynthConfig&) {}},
    {"Quiet", [](SynthConfig& c) { c.amplitude = 60; }},
    {"FullScaleClipped",
     [](SynthConfig& c) {
         c.amplitude = 32767;
         c.offset = 9000;
     }},
    {"Noisy", [](SynthConfig& c) { c.noise = 1500; }},
    {"NoisyWithSilence",
     [](SynthConfig& c) {
         c.noise = 800;
         c.silenceBefore = 4410;
         c.silenceAfter = 4410;
     }},
    {"Inverted", [](SynthConfig& c) { c.invert = true; }},
    {"InvertedAfterSilence",
     [](SynthConfig& c) {
         c.invert = true;
         c.silenceBefore = 2000;
     }},
    // The slicer's envelopes start at zero. With an offset larger than the amplitude both levels
    // are positive, so when the signal starts at the very first sample the gap before the first
    // sync reads as High, merges with the sync and hides it: the first frame may be lost. Every
    // later frame must come through.
    {"PositiveOffset", [](SynthConfig& c) { c.offset = 12000; }, 1},
    {"PositiveOffsetAfterSilence",
     [](SynthConfig& c) {
         c.offset = 12000;
         c.silenceBefore = 2000;
     }},
    {"NegativeOffsetAfterSilence",
     [](SynthConfig& c) {
         c.offset = -15000;
         c.silenceBefore = 3000;
     }},
    {"SoftEdges", [](SynthConfig& c) { c.lowPass = 1.5; }},
    {"VerySoftEdges", [](SynthConfig& c) { c.lowPass = 3.0; }},
    {"SlowBitRate", [](SynthConfig& c) { c.cellLength = 6.75; }},
    {"FastBitRate", [](SynthConfig& c) { c.cellLength = 6.5; }},
    {"WidestGap", [](SynthConfig& c) { c.gapCells = 7; }},
    {"NarrowestGap", [](SynthConfig& c) { c.gapCells = 2; }},
    {"EverythingAtOnce",
     [](SynthConfig& c) {
         c.invert = true;
         c.offset = -4000;
         c.lowPass = 2.0;
         c.noise = 600;
         c.cellLength = 6.7;
         c.silenceBefore = 1000;
     }},
};

class RoundTrip : public ::testing::TestWithParam<std::tuple<ChannelCase, size_t>> {};

TEST_P(RoundTrip, DecodesEveryFrameWithoutErrorsAndTheLastPos1) {
    const auto& [channel, chunk] = GetParam();
    SynthConfig config;
    config.frameCount = 60;
    config.kinds = {FrameKind::A, FrameKind::B, FrameKind::B};
    config.sweep = true;
    config.pos1 = 100;
    config.sweepStep = 37;
    config.seed = 7;
    channel.shape(config);
    const synth::SynthResult signal = synth::Synthesize(config);
    ASSERT_EQ(signal.summary.framesB, 40);

    // Every frame is preceded by a gap and the signal ends with a closing mark, so no frame may be
    // lost, not even the first (the slicer settles on the gap before it) nor the last, unless the
    // case says otherwise. Extra frames are never acceptable.
    const Decoded got = Decode(signal.samples, chunk);
    EXPECT_LE(got.frames, 60);
    EXPECT_GE(got.frames, 60 - channel.mayLoseFirst);
    EXPECT_EQ(got.errors, 0);
    EXPECT_EQ(got.pos1, signal.summary.pos1Values.back());
    // The slicer carries its state across calls: how the samples are cut into buffers is invisible.
    EXPECT_EQ(got, Decode(signal.samples, signal.samples.size()));
}

INSTANTIATE_TEST_SUITE_P(Channels, RoundTrip,
                         ::testing::Combine(::testing::ValuesIn(kChannels),
                                            ::testing::Values(1, 7, 256, 512)),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param).name) + "_Chunk" +
                                    std::to_string(std::get<1>(info.param));
                         });

TEST(RoundTrip, OddTrailingByteOfEveryCallIsIgnored) {
    SynthConfig config;
    config.frameCount = 30;
    config.noise = 500;
    config.sweep = true;
    config.sweepStep = 11;
    const auto samples = synth::Synthesize(config).samples;
    for (size_t chunk : {1, 7, 256, 511, 512}) {
        const Decoded plain = Decode(samples, chunk);
        EXPECT_EQ(Decode(samples, chunk, true), plain) << "chunk " << chunk;
        EXPECT_EQ(plain.frames, 30) << "chunk " << chunk;
    }
}

TEST(RoundTrip, BadWordsFailEveryFrameAndCarryNoPos1) {
    SynthConfig config;
    config.frameCount = 40;
    config.badWords = true;
    const synth::SynthResult signal = synth::Synthesize(config);
    EXPECT_TRUE(signal.summary.pos1Values.empty());
    EXPECT_EQ(Decode(signal.samples, 512), (Decoded{0, 40, 0}));
}

TEST(RoundTrip, MarginalSignalsDecodeNoFalseFrames) {
    // With noise that sometimes crosses the threshold, frames may be lost, but a lost frame must
    // show as an error or a miss, never as an extra frame.
    SynthConfig config;
    config.frameCount = 200;
    config.noise = 3000;
    config.lowPass = 2.0;
    const Decoded got = Decode(synth::Synthesize(config).samples, 512);
    EXPECT_LE(got.frames, 200);
    EXPECT_GE(got.frames, 80)
        << "noise at under a third of the amplitude should let many frames through";
    EXPECT_GT(got.errors, 0)
        << "this much noise must corrupt some frames, or the test proves nothing";
}

TEST(RoundTrip, Pos1TrackingSeesEverySweptValueInOrder) {
    // Start at 5 and step by 3: the sweep never passes through 0, the value the status starts
    // with, so every change the receiver shows must come from a decoded frame.
    SynthConfig config;
    config.kinds = {FrameKind::A, FrameKind::B};
    config.frameCount = 1400;
    config.sweep = true;
    config.pos1 = 5;
    config.sweepStep = 3;
    config.noise = 400;
    const synth::SynthResult signal = synth::Synthesize(config);
    std::vector<int32_t> want;
    for (int32_t v : signal.summary.pos1Values) {
        ASSERT_NE(v, 0);
        if (want.empty() || want.back() != v) want.push_back(v);
    }
    ASSERT_GT(want.size(), 682u) << "the sweep should cover a whole cycle";

    // A kind-B frame comes only every other frame, about 2 400 samples apart, so each value stays
    // on show over several 512-sample buffers.
    app::Pipeline rx;
    const std::vector<uint8_t> bytes = synth::SamplesToBytes(signal.samples);
    std::vector<int32_t> seen;
    int32_t lastFrames = 0;
    for (size_t at = 0; at < bytes.size(); at += 1024) {
        const size_t n = std::min<size_t>(1024, bytes.size() - at);
        app::DecodeBlock(&rx, bytes.data() + at, static_cast<uint32_t>(n));
        const int32_t frames = ReadWord(rx.status.pcmFrames);
        const int32_t pos1 = ReadWord(rx.status.pos1);
        ASSERT_GE(frames, lastFrames);
        ASSERT_LE(frames - lastFrames, 1) << "a 512-sample buffer is shorter than any frame";
        lastFrames = frames;
        if (pos1 != (seen.empty() ? 0 : seen.back())) seen.push_back(pos1);
    }
    EXPECT_EQ(seen, want);
    EXPECT_EQ(lastFrames, 1400);
    EXPECT_EQ(ReadWord(rx.status.pcmErrors), 0);
}

// Runs of the synthesized cells in samples, as a perfect slicer would cut them.
struct IdealRun {
    RunLevel level;
    int32_t length;
};

std::vector<IdealRun> IdealRuns(const std::vector<uint8_t>& cells, const SynthConfig& config) {
    std::vector<IdealRun> runs;
    size_t start = 0;
    for (size_t k = 1; k <= cells.size(); ++k) {
        if (k < cells.size() && cells[k] == cells[start]) continue;
        // 1-cells are positive unless the polarity is inverted.
        const bool high = (cells[start] != 0) != config.invert;
        const auto length = synth::CellEdge(static_cast<int64_t>(k), config.cellLength) -
                            synth::CellEdge(static_cast<int64_t>(start), config.cellLength);
        runs.push_back({high ? RunLevel::High : RunLevel::Low, static_cast<int32_t>(length)});
        start = k;
    }
    return runs;
}

struct LogCase {
    const char* name;
    bool invert;
    double lowPass;
    double noise;
    int32_t tolerance;  // samples
};

class LogRoundTrip : public ::testing::TestWithParam<LogCase> {};

TEST_P(LogRoundTrip, StoredRunsAreTheCellRunsStartingLow) {
    const LogCase& c = GetParam();
    SynthConfig config;
    config.frameCount = 40;
    config.invert = c.invert;
    config.lowPass = c.lowPass;
    config.noise = c.noise;
    synth::SynthSummary summary;
    const auto cells = synth::BuildCells(config, summary);
    const auto samples = synth::RenderCells(cells, config);
    std::vector<IdealRun> want = IdealRuns(cells, config);
    // The log starts with a Low run: a leading High run (the gap, when inverted) is dropped.
    const bool leadingHigh = want.front().level == RunLevel::High;
    if (leadingHigh) want.erase(want.begin());

    const auto bytes = synth::SamplesToBytes(samples);
    const std::vector<int32_t> storage = app::LoggedRuns(bytes.data(), bytes.size());

    // The closing mark is still open when the samples end, so it is never delivered.
    ASSERT_EQ(storage.size(), want.size() - 1);
    int64_t wantTotal = 0;
    int64_t gotTotal = 0;
    for (size_t i = 0; i + 1 < want.size(); ++i) {
        EXPECT_EQ(want[i].level, i % 2 == 0 ? RunLevel::Low : RunLevel::High);
        EXPECT_LE(std::abs(storage[i] - want[i].length), c.tolerance) << "entry " << i;
        // Edges may move a little, but never accumulate an error.
        wantTotal += want[i].length;
        gotTotal += storage[i];
        ASSERT_LE(std::abs(gotTotal - wantTotal), c.tolerance + 2) << "entry " << i;
    }

    // The slicer hands over the same runs and the leading High one too, however the samples are
    // cut into pieces.
    std::vector<int32_t> all;
    decode::RunSlicer slicer;
    for (size_t at = 0, piece = 2; at < bytes.size(); at += piece, piece = piece * 3 % 2000 + 2) {
        decode::SliceBuffer(slicer, bytes.data() + at, std::min(piece, bytes.size() - at),
                            [&](common::Run run) { all.push_back(run.length); });
    }
    ASSERT_EQ(all.size(), storage.size() + (leadingHigh ? 1 : 0));
    EXPECT_TRUE(std::equal(storage.begin(), storage.end(),
                           all.end() - static_cast<std::ptrdiff_t>(storage.size())));
}

INSTANTIATE_TEST_SUITE_P(Channels, LogRoundTrip,
                         ::testing::Values(LogCase{"Clean", false, 0.0, 0.0, 0},
                                           LogCase{"Inverted", true, 0.0, 0.0, 0},
                                           LogCase{"SoftNoisy", false, 2.0, 300.0, 2},
                                           LogCase{"SoftNoisyInverted", true, 2.0, 300.0, 2}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
