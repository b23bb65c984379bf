// Cost of log mode's two main-thread steps for a log of 100 million runs (400 MB): creating the
// array before capture starts, and writing the file after it stops. Creating must be instant
// however large the log (its pages are only touched as runs arrive); writing is bound by the disk.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/run_log.h"

namespace {

constexpr int32_t kEntries = 100000000;

std::string LogPath() {
    const char* dir = std::getenv("TMPDIR");
    return std::string(dir != nullptr ? dir : "/tmp") + "/vorlank-bench.log";
}

void BM_CreateLog100M(benchmark::State& state) {
    FILE* sink = std::fopen("/dev/null", "w");
    for (auto _ : state) {
        common::RunLog log;
        if (app::CreateRunLog(log, "unused", kEntries, sink) != 0)
            state.SkipWithError("cannot allocate");
        benchmark::DoNotOptimize(log.entries);
        state.PauseTiming();
        std::free(log.entries);
        state.ResumeTiming();
    }
    std::fclose(sink);
}
BENCHMARK(BM_CreateLog100M)->Unit(benchmark::kMicrosecond);

// A full log: every entry written by the "slicer" first, so the write meets resident pages.
void BM_WriteLog100M(benchmark::State& state) {
    FILE* sink = std::fopen("/dev/null", "w");
    const std::string path = LogPath();
    for (auto _ : state) {
        state.PauseTiming();
        common::RunLog log;
        if (app::CreateRunLog(log, path.c_str(), kEntries, sink) != 0)
            state.SkipWithError("cannot allocate");
        for (int32_t i = 0; i < log.capacity; ++i) log.entries[i] = 1 + i % 97;
        common::WriteWord(log.count, log.capacity);
        state.ResumeTiming();
        if (app::WriteLogFile(log, sink) != 0) state.SkipWithError("cannot write the log file");
    }
    std::remove(path.c_str());
    std::fclose(sink);
    state.SetBytesProcessed(state.iterations() * int64_t{400000000});
}
BENCHMARK(BM_WriteLog100M)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
