#include <gtest/gtest.h>

#include <limits>
#include <random>
#include <vector>

#include "decode/run_slicer.h"

namespace {

using common::Run;
using common::RunLevel;
using decode::RunSlicer;

// A fresh slicer whose consumer keeps every run it is handed.
struct Chain {
    RunSlicer slicer;
    std::vector<Run> runs;

    void Feed(const std::vector<int16_t>& samples) { Feed(samples, samples.size()); }
    // Feeds the samples in calls of `chunk` samples each.
    void Feed(const std::vector<int16_t>& samples, size_t chunk) {
        const std::vector<uint8_t> bytes = ToBytes(samples);
        for (size_t at = 0; at < bytes.size(); at += 2 * chunk) {
            const size_t n = std::min(2 * chunk, bytes.size() - at);
            decode::SliceBuffer(slicer, bytes.data() + at, n,
                                [this](Run run) { runs.push_back(run); });
        }
    }
    std::vector<int32_t> Lengths() const {
        std::vector<int32_t> lengths;
        for (const Run& r : runs) lengths.push_back(r.length);
        return lengths;
    }

    static std::vector<uint8_t> ToBytes(const std::vector<int16_t>& samples) {
        std::vector<uint8_t> bytes;
        for (int16_t s : samples) {
            const auto u = static_cast<uint16_t>(s);
            bytes.push_back(static_cast<uint8_t>(u & 0xFF));
            bytes.push_back(static_cast<uint8_t>(u >> 8));
        }
        return bytes;
    }
};

std::vector<int16_t> Square(int16_t amplitude, int halfPeriod, int halfPeriods) {
    std::vector<int16_t> samples;
    for (int h = 0; h < halfPeriods; ++h) {
        samples.insert(samples.end(), halfPeriod,
                       static_cast<int16_t>(h % 2 == 0 ? amplitude : -amplitude));
    }
    return samples;
}

TEST(RunSlicer, FirstSampleCrossesTheEnvelopes) {
    Chain c;
    c.Feed({0});
    // upper -0.1 and lower 0.1 cross, upper is lifted to 1.1, and the sample pulls lower to 0.
    EXPECT_EQ(c.slicer.upper, 0.1 + 1.0);
    EXPECT_EQ(c.slicer.lower, 0.0);
    EXPECT_EQ(c.slicer.lowRun, 1);
    EXPECT_EQ(c.slicer.highRun, 0);
}

TEST(RunSlicer, ConstantZeroIsOneEndlessLowRun) {
    Chain c;
    c.Feed(std::vector<int16_t>(200000, 0), 512);
    EXPECT_TRUE(c.runs.empty());
    EXPECT_EQ(c.slicer.lowRun, 200000);
}

// A constant 500 holds `upper` while `lower` creeps up by 0.1 per sample; after 4 998 samples the
// envelopes cross, the threshold jumps above 500 and every later sample is Low.
TEST(RunSlicer, ConstantInputEndsItsHighRunWhenTheEnvelopesClose) {
    Chain c;
    c.Feed(std::vector<int16_t>(4998, 500));
    EXPECT_EQ(c.slicer.highRun, 4998);
    EXPECT_TRUE(c.runs.empty());
    c.Feed({500});
    ASSERT_EQ(c.runs.size(), 1u);
    EXPECT_EQ(c.runs[0].length, 4998);
    EXPECT_EQ(c.runs[0].level, RunLevel::High);
    EXPECT_EQ(c.slicer.lowRun, 1);
    c.Feed(std::vector<int16_t>(100000, 500), 256);
    EXPECT_EQ(c.runs.size(), 1u);
    EXPECT_EQ(c.slicer.lowRun, 100001);
}

TEST(RunSlicer, SquareWavesGiveExactAlternatingRuns) {
    const struct {
        int16_t amplitude;
        int halfPeriod;
    } cases[] = {{1000, 20}, {1000, 1}, {1000, 2}, {3, 10}, {32767, 7}};
    for (const auto& sq : cases) {
        const int halfPeriods = 2001;
        Chain c;
        c.Feed(Square(sq.amplitude, sq.halfPeriod, halfPeriods));
        // The last run is still open.
        ASSERT_EQ(c.runs.size(), static_cast<size_t>(halfPeriods - 1))
            << sq.amplitude << "/" << sq.halfPeriod;
        for (size_t i = 0; i < c.runs.size(); ++i) {
            ASSERT_EQ(c.runs[i].length, sq.halfPeriod) << sq.amplitude << "/" << sq.halfPeriod;
            ASSERT_EQ(c.runs[i].level, i % 2 == 0 ? RunLevel::High : RunLevel::Low);
        }
    }
}

TEST(RunSlicer, OddTrailingByteIsIgnored) {
    Chain c;
    std::vector<uint8_t> bytes(1023, 0);
    const auto none = [](common::Run) { ADD_FAILURE() << "no run ends in constant samples"; };
    decode::SliceBuffer(c.slicer, bytes.data(), 1023, none);
    EXPECT_EQ(c.slicer.lowRun, 511);
    decode::SliceBuffer(c.slicer, bytes.data(), 1, none);
    decode::SliceBuffer(c.slicer, bytes.data(), 0, none);
    EXPECT_EQ(c.slicer.lowRun, 511);
}

// Envelopes, threshold and run counters carry over between calls, so how the samples are cut
// into buffers must not change a single run or a single bit of the envelope state.
TEST(RunSlicer, BufferSizeDoesNotChangeTheRuns) {
    std::mt19937 rng(99);
    std::normal_distribution<double> noise(0.0, 300.0);
    std::vector<int16_t> samples;
    for (int i = 0; i < 60000; ++i) {
        const double clean = ((i / 13) % 2 == 0 ? 4000.0 : -4000.0) * (0.2 + (i % 9000) / 9000.0);
        samples.push_back(static_cast<int16_t>(clean + noise(rng)));
    }
    Chain whole;
    whole.Feed(samples);
    ASSERT_GT(whole.runs.size(), 4000u);
    for (size_t chunk : {1, 7, 256, 512, 4093}) {
        Chain parts;
        parts.Feed(samples, chunk);
        EXPECT_EQ(parts.Lengths(), whole.Lengths()) << chunk;
        EXPECT_EQ(parts.slicer.upper, whole.slicer.upper);
        EXPECT_EQ(parts.slicer.lower, whole.slicer.lower);
        EXPECT_EQ(parts.slicer.highRun, whole.slicer.highRun);
        EXPECT_EQ(parts.slicer.lowRun, whole.slicer.lowRun);
    }
}

TEST(RunSlicer, RunCountersHoldAtTheirLargestValue) {
    Chain c;
    c.Feed({1000, -1000});  // a first Low run is open
    c.slicer.lowRun = std::numeric_limits<int32_t>::max() - 1;
    c.Feed({-1000, -1000, -1000});
    EXPECT_EQ(c.slicer.lowRun, std::numeric_limits<int32_t>::max());
    c.Feed({1000});
    EXPECT_EQ(c.Lengths(), (std::vector<int32_t>{1, std::numeric_limits<int32_t>::max()}));
}

}  // namespace
