#include "analyze/analysis.h"

#include <algorithm>
#include <array>
#include <vector>

#include "analyze/report.h"
#include "decode/run_slicer.h"

namespace {

constexpr size_t kLogChunkRuns = size_t{64} * 1024;    // 256 KiB of log per read
constexpr size_t kWavChunkBytes = size_t{128} * 1024;  // 64 Ki samples per read
// The live tool slices 512 samples per buffer; slicing the recording in the same steps keeps the
// analysis close to it, though buffer size never changes which runs come out.
constexpr uint32_t kSliceSamples = 512;

// Counts a run and decodes it; `at` is the sample where the run starts and moves to its end,
// which is when the slicer delivers it and so when any Pos1 it completes is written.
void TakeRun(Analysis& analysis, std::FILE* pos1Csv, int64_t& at, int32_t length) {
    AddRun(analysis.runs, length);
    at += length;
    if (TallyRun(analysis.tally, length, at).kind != DecodeEventKind::Pos1Written) return;
    const int32_t value = Load(analysis.tally.status.pos1);
    AddPos1(analysis.track, at, value);
    analysis.lastPos1At = at;
    if (pos1Csv != nullptr) WritePos1Row(pos1Csv, at, value);
}

bool AnalyzeLog(InputReader& reader, Analysis& analysis, std::FILE* pos1Csv, std::string& error) {
    std::vector<int32_t> runs(kLogChunkRuns);
    int64_t at = 0;
    for (;;) {
        const int64_t count = ReadLogRuns(reader, runs.data(), runs.size());
        if (count < 0) {
            error = reader.error;
            return false;
        }
        if (count == 0) break;
        for (int64_t i = 0; i < count; ++i)
            TakeRun(analysis, pos1Csv, at, runs[static_cast<size_t>(i)]);
    }
    analysis.zeroTail = reader.pendingZeros;
    return true;
}

// The histogram needs every run, which test mode's wiring (slicer straight into DecodeRun) never
// shows. So the slicer runs in log mode into a small run log that is emptied after every slice, and
// the runs it holds are then handed to DecodeRun one by one, in delivery order, which is exactly
// what test mode would have done with them.
//
// Two rules of AppendRun shape this: it drops a High run that arrives while the log is empty (the
// log file starts on a Low run), and it drops runs and requests a stop once the log is full. Entry
// 0 is therefore a placeholder that is never emptied, so no run of the recording is ever "first";
// and the log has room for one run per sample of a slice, the most a slice can deliver.
bool AnalyzeWav(InputReader& reader, Analysis& analysis, std::FILE* pos1Csv, std::string& error) {
    std::array<int32_t, 1 + kSliceSamples> entries{};
    RunLog sliceRuns;
    sliceRuns.path = "";
    sliceRuns.capacity = static_cast<int32_t>(entries.size());
    sliceRuns.entries = entries.data();
    Store(sliceRuns.count, 1);
    SharedStatus sliceStatus;  // only stopRequested, which a full log would set
    RunSlicer slicer;
    slicer.out = RunConsumers{Mode::Log, nullptr, &sliceRuns, &sliceStatus};

    std::vector<uint8_t> bytes(kWavChunkBytes);
    int64_t at = 0;
    for (;;) {
        const int64_t count = ReadWavBytes(reader, bytes.data(), bytes.size());
        if (count < 0) {
            error = reader.error;
            return false;
        }
        if (count == 0) break;
        AddSamples(analysis.level, bytes.data(), static_cast<size_t>(count));
        for (int64_t offset = 0; offset < count; offset += int64_t{2} * kSliceSamples) {
            const auto sliceBytes = static_cast<uint32_t>(
                std::min<int64_t>(int64_t{2} * kSliceSamples, count - offset));
            SliceBuffer(slicer, bytes.data() + offset, sliceBytes);
            if (Load(sliceStatus.stopRequested) != 0) {
                error = "internal error: the slicer delivered more runs than a slice has samples";
                return false;
            }
            const int32_t stored = Load(sliceRuns.count);
            for (int32_t i = 1; i < stored; ++i)
                TakeRun(analysis, pos1Csv, at, entries[static_cast<size_t>(i)]);
            Store(sliceRuns.count, 1);
        }
    }
    return true;
}

}  // namespace

int64_t DurationSamples(const Analysis& analysis) {
    return analysis.kind == InputKind::Wav ? analysis.level.samples : analysis.runs.totalSamples;
}

bool AnalyzeInput(InputReader& reader, Analysis& analysis, std::FILE* pos1Csv, std::string& error) {
    analysis.kind = reader.kind;
    analysis.format = reader.format;
    return reader.kind == InputKind::Wav ? AnalyzeWav(reader, analysis, pos1Csv, error)
                                         : AnalyzeLog(reader, analysis, pos1Csv, error);
}
