// Throughput of the run slicer and frame decoder on a minute of synthesized signal, fed in the
// 512-sample buffers that capture delivers, against a bare loop of the same per-sample arithmetic
// that delivers nothing. The ratio of the two shows what the delivery of runs and the decoding
// cost on top of the unavoidable envelope arithmetic; the worst single buffer shows the margin to
// the 11.6 ms in which the device fills the other buffer.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "app/pipeline.h"
#include "common/little_endian.h"
#include "common/signal_format.h"
#include "decode/run_slicer.h"
#include "synth/signal_synth.h"
#include "synth/wav_file.h"

namespace {

using app::DecodeBlock;
using app::Pipeline;

// One capture buffer: 512 samples, 11.6 ms.
constexpr uint32_t kBufferBytes = 1024;
// The time a buffer may take, in microseconds: while it is sliced, the device fills the other one.
constexpr double kBufferBudgetMicros = 1e6 * 512 / common::kSampleRateHz;

const std::vector<uint8_t>& MinuteOfSignal() {
    static const std::vector<uint8_t> kSignalBytes = [] {
        synth::SynthConfig config;
        config.noise = 200.0;
        config.lowPass = 0.8;
        config.sweep = true;
        config.frameCount = synth::FramesForDuration(config, 60.0);
        return synth::SamplesToBytes(synth::Synthesize(config).samples);
    }();
    return kSignalBytes;
}

void ReportAudio(benchmark::State& state, size_t bytes) {
    const size_t samplesPerPass = bytes / 2;
    const double samples =
        static_cast<double>(samplesPerPass) * static_cast<double>(state.iterations());
    state.counters["samples/s"] = benchmark::Counter(samples, benchmark::Counter::kIsRate);
    state.counters["x_realtime"] =
        benchmark::Counter(samples / common::kSampleRateHz, benchmark::Counter::kIsRate);
}

void BM_SliceAndDecode(benchmark::State& state) {
    const std::vector<uint8_t>& bytes = MinuteOfSignal();
    int32_t frames = 0;
    for (auto _ : state) {
        Pipeline chain;
        for (size_t at = 0; at < bytes.size(); at += kBufferBytes) {
            const auto n = static_cast<uint32_t>(std::min<size_t>(kBufferBytes, bytes.size() - at));
            DecodeBlock(&chain, bytes.data() + at, n);
        }
        frames = common::ReadWord(chain.status.pcmFrames);
        benchmark::DoNotOptimize(frames);
    }
    ReportAudio(state, bytes.size());
    state.counters["frames"] = frames;
}
BENCHMARK(BM_SliceAndDecode)->Unit(benchmark::kMillisecond)->Repetitions(7);

// The slicer's envelope arithmetic alone, sample for sample the same operations, but the runs are
// only counted, never delivered. This is the floor that the real path is compared with; it is a
// deliberate copy of the loop, kept here and nowhere else.
void BM_BareEnvelopeLoop(benchmark::State& state) {
    const std::vector<uint8_t>& bytes = MinuteOfSignal();
    for (auto _ : state) {
        double upper = 0.0, lower = 0.0;
        int32_t highRun = 0, lowRun = 0, runs = 0;
        for (size_t at = 0; at < bytes.size(); at += kBufferBytes) {
            const size_t end = std::min<size_t>(at + kBufferBytes, bytes.size()) & ~size_t{1};
            for (size_t i = at; i < end; i += 2) {
                const double s = common::DecodeLe16Sample(&bytes[i]);
                upper = upper - decode::kEnvelopeStep;
                lower = lower + decode::kEnvelopeStep;
                if (upper < lower) upper = lower + decode::kCrossedGap;
                if (s > upper) {
                    upper = s;
                } else if (s < lower) {
                    lower = s;
                }
                if (s > (lower + upper) * 0.5) {
                    ++highRun;
                    if (lowRun != 0) {
                        ++runs;
                        lowRun = 0;
                    }
                } else {
                    ++lowRun;
                    if (highRun != 0) {
                        ++runs;
                        highRun = 0;
                    }
                }
            }
            benchmark::ClobberMemory();
        }
        benchmark::DoNotOptimize(runs);
    }
    ReportAudio(state, bytes.size());
}
BENCHMARK(BM_BareEnvelopeLoop)->Unit(benchmark::kMillisecond)->Repetitions(7);

// The slowest single 512-sample buffer over ten minutes of signal.
void BM_WorstBuffer(benchmark::State& state) {
    const std::vector<uint8_t>& bytes = MinuteOfSignal();
    double worstMicros = 0.0;
    for (auto _ : state) {
        Pipeline chain;
        for (int pass = 0; pass < 10; ++pass) {
            for (size_t at = 0; at + kBufferBytes <= bytes.size(); at += kBufferBytes) {
                const auto start = std::chrono::steady_clock::now();
                DecodeBlock(&chain, bytes.data() + at, kBufferBytes);
                const auto end = std::chrono::steady_clock::now();
                worstMicros = std::max(
                    worstMicros, std::chrono::duration<double, std::micro>(end - start).count());
            }
        }
    }
    state.counters["worst_buffer_us"] = worstMicros;
    state.counters["budget_us"] = kBufferBudgetMicros;
}
BENCHMARK(BM_WorstBuffer)->Unit(benchmark::kMillisecond)->Iterations(1);

// Prints the usual table, then the throughput of the real path as a share of the bare loop's,
// both taken from this same run. Each is the best of its repetitions: on a shared machine other
// work only ever adds time, so the fastest repetition is the truest figure of the code itself.
// The table itself is the library's own display reporter, so --benchmark_color (colour only on a
// terminal unless told otherwise) and --benchmark_format apply as they do without this one.
class RatioReporter : public benchmark::BenchmarkReporter {
public:
    bool ReportContext(const Context& context) override { return display->ReportContext(context); }
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.run_type != Run::RT_Iteration || run.iterations == 0) continue;
            const double perIteration =
                run.real_accumulated_time / static_cast<double>(run.iterations);
            const auto [entry, added] =
                bestPerIteration.emplace(run.run_name.function_name, perIteration);
            if (!added && perIteration < entry->second) entry->second = perIteration;
        }
        display->ReportRuns(runs);
    }
    void Finalize() override {
        display->Finalize();
        const auto real = bestPerIteration.find("BM_SliceAndDecode");
        const auto bare = bestPerIteration.find("BM_BareEnvelopeLoop");
        if (real != bestPerIteration.end() && bare != bestPerIteration.end() &&
            real->second > 0.0) {
            std::printf("slicer+decoder throughput / bare loop throughput = %.3f (best of each)\n",
                        bare->second / real->second);
        }
    }

private:
    benchmark::BenchmarkReporter* display = benchmark::CreateDefaultDisplayReporter();
    std::map<std::string, double> bestPerIteration;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
