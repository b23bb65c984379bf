#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "decode/run_slicer.h"

namespace {

// A fresh slicer wired to a run log of `capacity` entries (log mode) or to a decoder (test mode).
struct Chain {
    std::vector<int32_t> storage;
    RunLog log;
    FrameDecoder decoder;
    SharedStatus status;
    RunSlicer slicer;

    explicit Chain(int32_t capacity, Mode mode = Mode::Log) : storage(capacity > 0 ? capacity : 1) {
        log.path = "unused";
        log.capacity = capacity;
        log.entries = storage.data();
        slicer.out = RunConsumers{mode, &decoder, &log, &status};
    }
    void Feed(const std::vector<int16_t>& samples) { Feed(samples, samples.size()); }
    // Feeds the samples in calls of `chunk` samples each.
    void Feed(const std::vector<int16_t>& samples, size_t chunk) {
        std::vector<uint8_t> bytes = ToBytes(samples);
        for (size_t at = 0; at < bytes.size(); at += 2 * chunk) {
            const size_t n = std::min(2 * chunk, bytes.size() - at);
            SliceBuffer(slicer, bytes.data() + at, static_cast<uint32_t>(n));
        }
    }
    std::vector<int32_t> Entries() const {
        return std::vector<int32_t>(storage.begin(), storage.begin() + Load(log.count));
    }
    bool Stopped() const { return Load(status.stopRequested) != 0; }

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

// Runs of the given lengths, starting High, at +-1000, followed by one sample that ends the last.
std::vector<int16_t> Runs(const std::vector<int>& lengths) {
    std::vector<int16_t> samples;
    int16_t level = 1000;
    for (int length : lengths) {
        samples.insert(samples.end(), length, level);
        level = static_cast<int16_t>(-level);
    }
    samples.push_back(level);
    return samples;
}

TEST(RunSlicer, FirstSampleCrossesTheEnvelopes) {
    Chain c(10);
    c.Feed({0});
    // upper -0.1 and lower 0.1 cross, upper is lifted to 1.1, and the sample pulls lower to 0.
    EXPECT_EQ(c.slicer.upper, 0.1 + 1.0);
    EXPECT_EQ(c.slicer.lower, 0.0);
    EXPECT_EQ(c.slicer.lowRun, 1);
    EXPECT_EQ(c.slicer.highRun, 0);
}

TEST(RunSlicer, ConstantZeroIsOneEndlessLowRun) {
    Chain c(0);  // capacity 0: any delivered run would set the stop request
    c.Feed(std::vector<int16_t>(200000, 0), 512);
    EXPECT_FALSE(c.Stopped());
    EXPECT_EQ(c.slicer.lowRun, 200000);
}

// A constant 500 holds `upper` while `lower` creeps up by 0.1 per sample; after 4 998 samples the
// envelopes cross, the threshold jumps above 500 and every later sample is Low.
TEST(RunSlicer, ConstantInputEndsItsHighRunWhenTheEnvelopesClose) {
    Chain c(0);
    c.Feed(std::vector<int16_t>(4998, 500));
    EXPECT_EQ(c.slicer.highRun, 4998);
    EXPECT_FALSE(c.Stopped());
    c.Feed({500});
    EXPECT_TRUE(c.Stopped());  // the High run of 4 998 was delivered
    EXPECT_EQ(c.slicer.highRun, 0);
    EXPECT_EQ(c.slicer.lowRun, 1);
    c.Feed(std::vector<int16_t>(100000, 500), 256);
    EXPECT_EQ(c.slicer.lowRun, 100001);
}

TEST(RunSlicer, SquareWavesGiveExactRuns) {
    const struct {
        int16_t amplitude;
        int halfPeriod;
    } cases[] = {{1000, 20}, {1000, 1}, {1000, 2}, {3, 10}, {32767, 7}};
    for (const auto& sq : cases) {
        const int halfPeriods = 2001;
        Chain c(5000);
        c.Feed(Square(sq.amplitude, sq.halfPeriod, halfPeriods));
        // The first High run is not logged and the last run is still open.
        const std::vector<int32_t> entries = c.Entries();
        ASSERT_EQ(entries.size(), static_cast<size_t>(halfPeriods - 2))
            << sq.amplitude << "/" << sq.halfPeriod;
        for (int32_t e : entries)
            ASSERT_EQ(e, sq.halfPeriod) << sq.amplitude << "/" << sq.halfPeriod;
    }
}

TEST(RunSlicer, OddTrailingByteIsIgnored) {
    Chain c(0);
    std::vector<uint8_t> bytes(1023, 0);
    SliceBuffer(c.slicer, bytes.data(), 1023);
    EXPECT_EQ(c.slicer.lowRun, 511);
    SliceBuffer(c.slicer, bytes.data(), 1);
    SliceBuffer(c.slicer, bytes.data(), 0);
    EXPECT_EQ(c.slicer.lowRun, 511);
}

TEST(RunSlicer, LogStartsLowAndStopsWhenFull) {
    Chain c(4);
    const std::vector<int> lengths = {7, 9, 8, 10, 6, 11};  // High first
    std::vector<int16_t> samples = Runs(lengths);
    // Up to the end of High 6 (the first sample of Low 11 delivers it), nothing asks for a stop.
    const size_t endOfHigh6 = 7 + 9 + 8 + 10 + 6 + 1;
    c.Feed(std::vector<int16_t>(samples.begin(), samples.begin() + endOfHigh6));
    EXPECT_EQ(c.Entries(), (std::vector<int32_t>{9, 8, 10, 6}));
    EXPECT_FALSE(c.Stopped());
    c.Feed(std::vector<int16_t>(samples.begin() + endOfHigh6, samples.end()));
    EXPECT_TRUE(c.Stopped());
    EXPECT_EQ(c.Entries(), (std::vector<int32_t>{9, 8, 10, 6}));
}

TEST(RunSlicer, ZeroCapacityStopsOnTheFirstRunOfEitherLevel) {
    for (RunLevel level : {RunLevel::High, RunLevel::Low}) {
        RunLog log;
        SharedStatus status;
        AppendRun(log, status, ::Run{5, level});
        EXPECT_EQ(Load(status.stopRequested), 1);
        EXPECT_EQ(Load(log.count), 0);
    }
}

TEST(RunSlicer, FullLogDropsEveryLaterRun) {
    int32_t entries[2] = {};
    RunLog log;
    log.capacity = 2;
    log.entries = entries;
    SharedStatus status;
    const ::Run runs[] = {{3, RunLevel::High}, {4, RunLevel::Low}, {5, RunLevel::High}};
    for (const ::Run& r : runs) AppendRun(log, status, r);
    EXPECT_EQ(Load(status.stopRequested), 0);
    for (RunLevel level : {RunLevel::Low, RunLevel::High}) {
        Store(status.stopRequested, 0);
        AppendRun(log, status, ::Run{6, level});
        EXPECT_EQ(Load(status.stopRequested), 1);
    }
    EXPECT_EQ(Load(log.count), 2);
    EXPECT_EQ(entries[0], 4);
    EXPECT_EQ(entries[1], 5);
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
    Chain whole(100000);
    whole.Feed(samples);
    ASSERT_GT(whole.Entries().size(), 4000u);
    for (size_t chunk : {1, 7, 256, 512, 4093}) {
        Chain parts(100000);
        parts.Feed(samples, chunk);
        EXPECT_EQ(parts.Entries(), whole.Entries()) << chunk;
        EXPECT_EQ(parts.slicer.upper, whole.slicer.upper);
        EXPECT_EQ(parts.slicer.lower, whole.slicer.lower);
        EXPECT_EQ(parts.slicer.highRun, whole.slicer.highRun);
        EXPECT_EQ(parts.slicer.lowRun, whole.slicer.lowRun);
    }
}

TEST(RunSlicer, RunCountersHoldAtTheirLargestValue) {
    Chain c(4);
    c.Feed({1000, -1000});  // a first Low run is open
    c.slicer.lowRun = std::numeric_limits<int32_t>::max() - 1;
    c.Feed({-1000, -1000, -1000});
    EXPECT_EQ(c.slicer.lowRun, std::numeric_limits<int32_t>::max());
    c.Feed({1000});
    EXPECT_EQ(c.Entries(), (std::vector<int32_t>{std::numeric_limits<int32_t>::max()}));
}

TEST(RunSlicer, TestModeFeedsTheDecoder) {
    Chain c(0, Mode::Test);
    // A sync of 120 samples, then 27 + 14 samples: header 000011 of a kind-A frame.
    c.Feed(Runs({50, 120, 27, 14}));
    EXPECT_EQ(c.decoder.state, DecoderState::Symbols);
    EXPECT_FALSE(c.Stopped());
}

}  // namespace
