// Tests of the synthesizer on its own: code table, frame layout, timing, rendering, WAV output and
// command line. The round trips through the decoder are in round_trip_test.cpp.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "common/little_endian.h"
#include "decode/symbol_code.h"
#include "synth/noise_source.h"
#include "synth/signal_synth.h"
#include "synth/synth_options.h"
#include "synth/wav_file.h"

namespace {

using namespace synth;

struct CellRun {
    uint8_t bit;
    int64_t first;  // index of its first cell
    int64_t cells;
};

std::vector<CellRun> CellRuns(const std::vector<uint8_t>& cells) {
    std::vector<CellRun> runs;
    for (size_t i = 0; i < cells.size(); ++i) {
        if (runs.empty() || runs.back().bit != cells[i])
            runs.push_back({cells[i], static_cast<int64_t>(i), 0});
        ++runs.back().cells;
    }
    return runs;
}

uint32_t ReadBits(const std::vector<uint8_t>& cells, size_t at, int bits) {
    uint32_t v = 0;
    for (int i = 0; i < bits; ++i) v = (v << 1) | cells[at + i];
    return v;
}

struct LayoutCase {
    FrameKind kind;
    int gap;
    int expectedCells;
    uint32_t header;
    int firstSlot;
    int words;
    int bitsBeforeWords;  // header plus kind B's spare bits
};

class FrameLayout : public ::testing::TestWithParam<LayoutCase> {};

TEST_P(FrameLayout, SyncHeaderAndWordsSitWhereTheReceiverReadsThem) {
    const LayoutCase& c = GetParam();
    Frame frame;
    frame.kind = c.kind;
    for (int s = 0; s < common::kSlotCount; ++s) frame.slots[s] = (s * 7 + 3) % 64;
    if (c.kind == FrameKind::B) SetPos1(frame, 725);
    std::vector<uint8_t> cells;
    AppendFrameCells(cells, frame, c.gap);

    ASSERT_EQ(static_cast<int>(cells.size()), c.expectedCells);
    EXPECT_EQ(FrameCells(c.kind, c.gap), c.expectedCells);
    for (int i = 0; i < c.gap; ++i) EXPECT_EQ(cells[i], 0) << "gap cell " << i;
    for (int i = 0; i < 18; ++i) EXPECT_EQ(cells[c.gap + i], 1) << "sync cell " << i;
    const size_t header = static_cast<size_t>(c.gap) + 18;
    EXPECT_EQ(ReadBits(cells, header, 6), c.header);
    if (c.bitsBeforeWords > 6) {
        EXPECT_EQ(ReadBits(cells, header + 6, 2), 0u) << "spare bits";
    }
    int sym[common::kSlotCount] = {};
    for (int w = 0; w < c.words; ++w) {
        const int slot = c.firstSlot + w;
        sym[slot] = decode::LookupSymbol(
            ReadBits(cells, header + static_cast<size_t>(c.bitsBeforeWords + 10 * w), 10));
        EXPECT_EQ(sym[slot], frame.slots[slot]) << "slot " << slot;
    }
    if (c.kind == FrameKind::B) {
        EXPECT_EQ((sym[18] >> 2) | (sym[17] << 4), 725);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, FrameLayout,
    ::testing::Values(LayoutCase{FrameKind::A, 4, 4 + 18 + 6 + 150, 0b000011, 0, 15, 6},
                      LayoutCase{FrameKind::B, 4, 4 + 18 + 6 + 2 + 160, 0b000000, 16, 16, 8},
                      LayoutCase{FrameKind::A, 2, 2 + 18 + 6 + 150, 0b000011, 0, 15, 6},
                      LayoutCase{FrameKind::B, 7, 7 + 18 + 6 + 2 + 160, 0b000000, 16, 16, 8}),
    [](const auto& info) {
        return std::string(info.param.kind == FrameKind::A ? "KindA" : "KindB") + "_Gap" +
               std::to_string(info.param.gap);
    });

TEST(FrameLayout, OnlySyncRunsReachEighteenCellsAndNoRunIsShorterThanTwo) {
    // A receiver hunting for a frame takes any run of 18 cells for a sync, and a soft channel
    // loses one-cell pulses; random payload over many frames must produce neither. Other runs stay
    // at 15 cells or fewer so that a few percent of bit-rate error cannot stretch one to 18.
    for (int gap : {2, 4, 7}) {
        SynthConfig config;
        config.frameCount = 600;
        config.gapCells = gap;
        config.kinds = {FrameKind::A, FrameKind::B, FrameKind::B};
        SynthSummary summary;
        const auto runs = CellRuns(BuildCells(config, summary));
        int longRuns = 0;
        for (const CellRun& r : runs) {
            EXPECT_GE(r.cells, 2) << "gap " << gap << " run at cell " << r.first;
            if (r.cells > 15) {
                ++longRuns;
                EXPECT_EQ(r.cells, 18);
                EXPECT_EQ(r.bit, 1);
            }
        }
        EXPECT_EQ(longRuns, config.frameCount) << "gap " << gap;
        EXPECT_EQ(runs.back().bit, 1) << "the signal must end on the closing mark";
        EXPECT_EQ(runs.back().cells, kClosingCells);
    }
}

TEST(Pos1, SplitsIntoSlotSeventeenAndTheUpperBitsOfSlotEighteen) {
    struct Case {
        int pos1, low2, sym17, sym18;
    };
    for (const Case& c : {Case{1023, 0, 63, 60}, Case{0, 3, 0, 3}, Case{17, 0, 1, 4},
                          Case{17, 2, 1, 6}, Case{512, 1, 32, 1}}) {
        Frame frame;
        frame.slots[18] = c.low2;
        SetPos1(frame, c.pos1);
        EXPECT_EQ(frame.slots[17], c.sym17) << c.pos1;
        EXPECT_EQ(frame.slots[18], c.sym18) << c.pos1;
    }
}

TEST(Pos1, SweepRunsUpToTheTopAndBackDown) {
    SynthConfig config;
    config.sweep = true;
    config.pos1 = 0;
    config.sweepStep = 1;
    EXPECT_EQ(Pos1ForFrame(config, 0), 0);
    EXPECT_EQ(Pos1ForFrame(config, 1023), 1023);
    EXPECT_EQ(Pos1ForFrame(config, 1024), 1022);
    EXPECT_EQ(Pos1ForFrame(config, 2046), 0);
    EXPECT_EQ(Pos1ForFrame(config, 2047), 1);
    config.pos1 = 1000;
    config.sweepStep = 300;
    EXPECT_EQ(Pos1ForFrame(config, 1), 746);  // 1300 folds back from the top
    EXPECT_EQ(Pos1ForFrame(config, 4), 154);  // 2200 wraps past a whole cycle
    config.sweep = false;
    EXPECT_EQ(Pos1ForFrame(config, 77), 1000);
}

TEST(Pos1, SummaryListsTheValueOfEveryKindBFrame) {
    SynthConfig config;
    config.frameCount = 7;
    config.kinds = {FrameKind::A, FrameKind::B, FrameKind::B};
    config.sweep = true;
    config.pos1 = 10;
    config.sweepStep = 5;
    SynthSummary summary;
    BuildCells(config, summary);
    EXPECT_EQ(summary.framesA, 3);
    EXPECT_EQ(summary.framesB, 4);
    EXPECT_EQ(summary.pos1Values, (std::vector<int32_t>{10, 15, 20, 25}));
}

class CellTiming : public ::testing::TestWithParam<double> {};

TEST_P(CellTiming, EveryEdgeStaysWithinHalfASampleOfItsExactTime) {
    // Over ~190 000 cells a per-cell rounding of the length would drift by thousands of samples.
    SynthConfig config;
    config.cellLength = GetParam();
    config.frameCount = 1000;
    config.silenceBefore = 37;
    SynthSummary summary;
    const auto cells = BuildCells(config, summary);
    const auto samples = RenderCells(cells, config);
    const double cellLength = config.cellLength;
    const auto cellCount = static_cast<double>(cells.size());
    ASSERT_EQ(static_cast<int64_t>(samples.size()),
              37 + static_cast<int64_t>(std::floor(cellCount * cellLength + 0.5)));
    for (size_t k = 1; k < cells.size(); ++k) {
        if (cells[k] == cells[k - 1]) continue;
        // Find the first sample of cell k's level after the exact edge's neighbourhood begins.
        const double exact = static_cast<double>(k) * cellLength;
        const auto from = static_cast<size_t>(37 + std::floor(exact) - 1);
        size_t edge = from;
        while (edge < samples.size() && (samples[edge] > 0) != (cells[k] == 1)) ++edge;
        ASSERT_LE(std::fabs(static_cast<double>(edge - 37) - exact), 0.5) << "cell " << k;
    }
}

INSTANTIATE_TEST_SUITE_P(CellLengths, CellTiming, ::testing::Values(6.623, 6.5, 6.75, 3.0, 13.37),
                         [](const auto& info) {
                             std::string name = "Cell" + ::testing::PrintToString(info.param);
                             std::replace(name.begin(), name.end(), '.', '_');
                             return name;
                         });

TEST(Rendering, LevelsOffsetPolarityAndClipping) {
    struct Case {
        double amplitude, offset;
        bool invert;
        int16_t high, low;  // sample of a 1-cell and of a 0-cell
    };
    const std::vector<uint8_t> cells = {0, 0, 1, 1, 1, 0};
    for (const Case& c :
         {Case{10000, 0, false, 10000, -10000}, Case{10000, 0, true, -10000, 10000},
          Case{8000, 5000, false, 13000, -3000}, Case{8000, -9000.4, true, -17000, -1000},
          Case{30000, 10000, false, 32767, -20000}, Case{30000, -10000, true, -32768, 20000},
          Case{0, 123, false, 123, 123}}) {
        SynthConfig config;
        config.cellLength = 5.0;
        config.amplitude = c.amplitude;
        config.offset = c.offset;
        config.invert = c.invert;
        config.silenceBefore = 3;
        config.silenceAfter = 2;
        const auto s = RenderCells(cells, config);
        ASSERT_EQ(s.size(), 3u + 30u + 2u);
        const auto silence = static_cast<int16_t>(std::floor(c.offset + 0.5));
        for (size_t i = 0; i < s.size(); ++i) {
            int16_t want = silence;
            if (i >= 3 && i < 33) want = cells[(i - 3) / 5] != 0 ? c.high : c.low;
            ASSERT_EQ(s[i], want) << "sample " << i << " amplitude " << c.amplitude << " offset "
                                  << c.offset;
        }
    }
}

TEST(Rendering, LowPassFollowsAFirstOrderStepResponse) {
    SynthConfig config;
    config.amplitude = 10000;
    config.lowPass = 10.0;
    config.cellLength = 100.0;
    const auto s = RenderCells({0, 1}, config);
    // After n samples of a step from 0 to -A the output is -A (1 - e^(-n / tau)).
    for (int n : {1, 5, 10, 30, 100}) {
        const double want = -10000.0 * (1.0 - std::exp(-n / 10.0));
        EXPECT_NEAR(s[n - 1], want, 1.0) << "sample " << n;
    }
    // The rise to +A starts from where the fall had got to.
    const double start = -10000.0 * (1.0 - std::exp(-10.0));
    EXPECT_NEAR(s[109], 10000.0 + (start - 10000.0) * std::exp(-1.0), 1.0);
    for (size_t i = 1; i < 100; ++i) ASSERT_LE(s[i], s[i - 1]);
    for (size_t i = 101; i < 200; ++i) ASSERT_GE(s[i], s[i - 1]);
}

TEST(Rendering, NoiseHasTheRequestedStandardDeviationAndNoBias) {
    SynthConfig config;
    config.amplitude = 0;
    config.noise = 1000.0;
    config.silenceBefore = 200000;
    const auto s = RenderCells({}, config);
    double sum = 0.0;
    double squares = 0.0;
    for (int16_t v : s) {
        sum += v;
        squares += static_cast<double>(v) * v;
    }
    const double n = static_cast<double>(s.size());
    const double mean = sum / n;
    EXPECT_NEAR(mean, 0.0, 12.0);  // ~5 standard errors
    EXPECT_NEAR(std::sqrt(squares / n - mean * mean), 1000.0, 10.0);
}

TEST(Rendering, SameSeedSameSamplesOtherSeedOtherPayloadAndNoise) {
    SynthConfig config;
    config.frameCount = 6;
    config.noise = 300.0;
    const auto first = Synthesize(config).samples;
    EXPECT_EQ(Synthesize(config).samples, first);
    config.seed = 2;
    EXPECT_NE(Synthesize(config).samples, first);
    // Noise draws from its own stream: the seed's payload is the same with and without it.
    SynthSummary a;
    SynthSummary b;
    config.noise = 0.0;
    const auto clean = BuildCells(config, a);
    config.noise = 2000.0;
    EXPECT_EQ(BuildCells(config, b), clean);
}

TEST(NoiseSource, SeedExpansionIsTheReferenceSplitMix64) {
    // The published first output for state 0; a wrong constant or shift would change every
    // signal made from a given seed.
    uint64_t state = 0;
    EXPECT_EQ(SplitMix64(state), 0xE220A8397B1DCDAFull);
}

TEST(WavFile, HeaderFieldsAndLittleEndianSamples) {
    const std::vector<int16_t> samples = {0, 1, -1, 32767, -32768, 0x1234};
    const auto path = (std::filesystem::temp_directory_path() / "vorlank_synth_test.wav").string();
    std::string error;
    ASSERT_TRUE(WriteWavFile(path, samples, error)) << error;
    std::FILE* in = std::fopen(path.c_str(), "rb");
    ASSERT_NE(in, nullptr);
    std::vector<uint8_t> bytes(100);
    bytes.resize(std::fread(bytes.data(), 1, bytes.size(), in));
    std::fclose(in);
    std::remove(path.c_str());

    ASSERT_EQ(bytes.size(), 44u + 12u);
    auto u16 = [&](size_t at) { return bytes[at] | (bytes[at + 1] << 8); };
    auto u32 = [&](size_t at) { return static_cast<uint32_t>(u16(at) | (u16(at + 2) << 16)); };
    auto tag = [&](size_t at) { return std::string(reinterpret_cast<const char*>(&bytes[at]), 4); };
    EXPECT_EQ(tag(0), "RIFF");
    EXPECT_EQ(u32(4), 36u + 12u);
    EXPECT_EQ(tag(8), "WAVE");
    EXPECT_EQ(tag(12), "fmt ");
    EXPECT_EQ(u32(16), 16u);
    EXPECT_EQ(u16(20), 1);  // PCM
    EXPECT_EQ(u16(22), 1);  // mono
    EXPECT_EQ(u32(24), 44100u);
    EXPECT_EQ(u32(28), 88200u);
    EXPECT_EQ(u16(32), 2);
    EXPECT_EQ(u16(34), 16);
    EXPECT_EQ(tag(36), "data");
    EXPECT_EQ(u32(40), 12u);
    const std::vector<uint8_t> data(bytes.begin() + 44, bytes.end());
    EXPECT_EQ(data,
              (std::vector<uint8_t>{0, 0, 1, 0, 0xFF, 0xFF, 0xFF, 0x7F, 0x00, 0x80, 0x34, 0x12}));
}

TEST(LittleEndian, BytesAndValuesAgree) {
    const uint8_t sample[] = {0x34, 0x12, 0xFF, 0xFF, 0x00, 0x80};
    EXPECT_EQ(common::DecodeLe16Sample(sample), 0x1234);
    EXPECT_EQ(common::DecodeLe16Sample(sample + 2), -1);
    EXPECT_EQ(common::DecodeLe16Sample(sample + 4), -32768);
    const uint8_t word[] = {0x44, 0xAC, 0x00, 0x80};
    EXPECT_EQ(common::DecodeLe32(word), 0x8000AC44u);
    uint8_t written[4] = {};
    common::EncodeLe32(0x8000AC44u, written);
    EXPECT_EQ(std::vector<uint8_t>(written, written + 4), std::vector<uint8_t>(word, word + 4));
}

TEST(WavFile, UnwritablePathIsReported) {
    std::string error;
    EXPECT_FALSE(WriteWavFile("/nonexistent-dir/x/out.wav", {1, 2, 3}, error));
    EXPECT_FALSE(error.empty());
}

SynthCommand Parse(const std::vector<std::string>& args) {
    return ParseSynthCommand(args);
}

TEST(Options, EachBadCommandLineGetsItsMessage) {
    const SynthTexts& t = kSynthTexts;
    auto whole = [&](const char* option, const char* word, const char* lo, const char* hi) {
        return std::string(option) + ": " + Fill(t.notWholeNumber, {word, lo, hi});
    };
    auto real = [&](const char* option, const char* word, const char* lo, const char* hi) {
        return std::string(option) + ": " + Fill(t.notNumber, {word, lo, hi});
    };
    struct Case {
        std::vector<std::string> args;
        std::string error;
    };
    const std::vector<Case> cases = {
        {{}, t.noOutput},
        {{"-n", "3"}, t.noOutput},
        {{"--raw", "-o", "x.wav"}, t.twoOutputs},
        {{"--raw", "--frames"}, Fill(t.needsValue, {"--frames"})},
        {{"--raw", "-n", "12x"}, whole("--frames", "12x", "0", "100000")},
        {{"--raw", "--frames", ""}, whole("--frames", "", "0", "100000")},
        {{"--raw", "--frames", " 5"}, whole("--frames", " 5", "0", "100000")},
        {{"--raw", "--frames", "-1"}, whole("--frames", "-1", "0", "100000")},
        {{"--raw", "--frames", "100001"}, whole("--frames", "100001", "0", "100000")},
        {{"--raw", "--frames", "99999999999999999999"},
         whole("--frames", "99999999999999999999", "0", "100000")},
        {{"--raw", "--pos1", "1024"}, whole("--pos1", "1024", "0", "1023")},
        {{"--raw", "--noise", "nan"}, real("--noise", "nan", "0", "32767")},
        {{"--raw", "--noise=-1"}, real("--noise", "-1", "0", "32767")},
        {{"--raw", "--amplitude", "inf"}, real("--amplitude", "inf", "0", "32767")},
        {{"--raw", "--offset", "-32769"}, real("--offset", "-32769", "-32768", "32767")},
        {{"--raw", "--cell-length", "0"}, real("--cell-length", "0", "3", "100")},
        {{"--raw", "--gap", "1"}, whole("--gap", "1", "2", "7")},
        {{"--raw", "--gap", "8"}, whole("--gap", "8", "2", "7")},
        {{"--raw", "--sweep-step", "0"}, whole("--sweep-step", "0", "1", "1023")},
        {{"--raw", "--kinds", "AC"}, "--kinds: " + Fill(t.notKinds, {"AC"})},
        {{"--raw", "--kinds", ""}, "--kinds: " + Fill(t.notKinds, {""})},
        {{"--raw", "--seed", "-1"}, whole("--seed", "-1", "0", "18446744073709551615")},
        {{"--raw", "--frames", "3", "--duration", "1"}, t.framesAndDuration},
        {{"--raw", "--duration", "0.01"}, t.tooShort},
        {{"--raw=yes"}, Fill(t.takesNoValue, {"--raw"})},
        {{"--raw", "--bogus"}, Fill(t.unknownOption, {"--bogus"})},
        {{"--raw", "-x"}, Fill(t.unknownOption, {"-x"})},
        {{"--raw", "stray"}, Fill(t.unexpectedWord, {"stray"})},
        {{"-o", ""}, "--output: " + std::string(t.emptyFileName)},
        // The first bad word on the line is the one reported, and a bad word wins over --help.
        {{"--raw", "--bogus", "-n", "12x"}, Fill(t.unknownOption, {"--bogus"})},
        {{"--raw", "--pos1", "1024", "-n", "12x"}, whole("--pos1", "1024", "0", "1023")},
        {{"--help", "-n", "12x"}, whole("--frames", "12x", "0", "100000")},
    };
    for (const Case& c : cases) {
        std::string joined;
        for (const auto& a : c.args) joined += "[" + a + "]";
        const SynthCommand cmd = Parse(c.args);
        EXPECT_EQ(cmd.status, ParseStatus::Error) << joined;
        EXPECT_EQ(cmd.error, c.error) << joined;
    }
}

TEST(Options, ValuesReachTheConfig) {
    const SynthCommand cmd = Parse({"-o",
                                    "out.wav",
                                    "-n",
                                    "42",
                                    "--kinds=AAB",
                                    "--pos1",
                                    "700",
                                    "--sweep",
                                    "--sweep-step",
                                    "9",
                                    "--gap",
                                    "6",
                                    "-c",
                                    "6.75",
                                    "-a",
                                    "1234.5",
                                    "--offset",
                                    "-300",
                                    "--noise=25",
                                    "--invert",
                                    "--lowpass",
                                    "2.5",
                                    "--silence-before",
                                    "100",
                                    "--silence-after=10",
                                    "--seed",
                                    "18446744073709551615"});
    ASSERT_EQ(cmd.status, ParseStatus::Run) << cmd.error;
    const SynthConfig& c = cmd.config;
    EXPECT_EQ(cmd.outputPath, "out.wav");
    EXPECT_FALSE(cmd.raw);
    EXPECT_EQ(c.frameCount, 42);
    EXPECT_EQ(c.kinds, (std::vector<FrameKind>{FrameKind::A, FrameKind::A, FrameKind::B}));
    EXPECT_EQ(c.pos1, 700);
    EXPECT_TRUE(c.sweep);
    EXPECT_EQ(c.sweepStep, 9);
    EXPECT_EQ(c.gapCells, 6);
    EXPECT_DOUBLE_EQ(c.cellLength, 6.75);
    EXPECT_DOUBLE_EQ(c.amplitude, 1234.5);
    EXPECT_DOUBLE_EQ(c.offset, -300.0);
    EXPECT_DOUBLE_EQ(c.noise, 25.0);
    EXPECT_TRUE(c.invert);
    EXPECT_DOUBLE_EQ(c.lowPass, 2.5);
    EXPECT_EQ(c.silenceBefore, 4410);
    EXPECT_EQ(c.silenceAfter, 441);
    EXPECT_EQ(c.seed, 18446744073709551615ull);
    EXPECT_TRUE(Parse({"--raw", "--bad-words"}).config.badWords);
}

TEST(Options, SweepStartsAtZeroUnlessAStartIsGiven) {
    EXPECT_EQ(Parse({"--raw", "--sweep"}).config.pos1, 0);
    EXPECT_EQ(Parse({"--raw", "--sweep", "-p", "300"}).config.pos1, 300);
    EXPECT_EQ(Parse({"--raw"}).config.pos1, 512);
}

TEST(Options, DurationGivesTheFramesThatFit) {
    const SynthCommand cmd = Parse({"--raw", "-d", "2", "-k", "B"});
    ASSERT_EQ(cmd.status, ParseStatus::Run) << cmd.error;
    SynthConfig config = cmd.config;
    EXPECT_LE(Synthesize(config).summary.sampleCount, 2 * 44100);
    ++config.frameCount;
    EXPECT_GT(Synthesize(config).summary.sampleCount, 2 * 44100);
}

TEST(Options, HelpWinsAndSummaryLineIsParsable) {
    EXPECT_EQ(Parse({"--help"}).status, ParseStatus::Help);
    EXPECT_EQ(Parse({"-n", "3", "-h"}).status, ParseStatus::Help);
    // --version needs no output choice; with --help, the help wins.
    EXPECT_EQ(Parse({"--version"}).status, ParseStatus::Version);
    EXPECT_EQ(Parse({"--version", "--help"}).status, ParseStatus::Help);
    SynthSummary s;
    s.framesA = 2;
    s.framesB = 3;
    s.pos1Values = {5, 6, 7};
    s.sampleCount = 44100 * 3 / 2;
    EXPECT_EQ(FormatSummary(s),
              "frames=5 kindA=2 kindB=3 pos1First=5 pos1Last=7 samples=66150 seconds=1.500");
    s.framesB = 0;
    s.pos1Values.clear();
    EXPECT_EQ(FormatSummary(s),
              "frames=2 kindA=2 kindB=0 pos1First=- pos1Last=- samples=66150 seconds=1.500");
}

}  // namespace
