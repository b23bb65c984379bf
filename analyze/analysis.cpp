#include "analyze/analysis.h"

#include <memory>
#include <vector>

#include "analyze/report.h"
#include "common/little_endian.h"
#include "decode/run_slicer.h"

namespace analyze {

namespace {

using Kind = decode::DecodeEventKind;

constexpr size_t kLogChunkRuns = size_t{64} * 1024;       // 256 KiB of log per read
constexpr size_t kSampleChunkBytes = size_t{128} * 1024;  // 64 Ki samples per read

// Counts a run and decodes it. The run ends at the sum of the runs so far, itself included, which
// is when the slicer delivers it and so when any frame or Pos1 it completes is decoded.
void TakeRun(Analysis& analysis, const AnalysisOutputs& outputs, int32_t length) {
    AddRun(analysis.runs, length);
    const int64_t at = analysis.runs.totalSamples;
    const decode::DecodeEvent event = TallyRun(analysis.tally, length, at);
    const bool complete = event.kind == Kind::FrameComplete;
    const bool error = event.kind == Kind::BadHeader || event.kind == Kind::InvalidWord;
    if (complete) ++TimelineAt(analysis.timeline, at).frames;
    if (error) ++TimelineAt(analysis.timeline, at).errors;
    if (analysis.errors != nullptr && TraceWanted(*analysis.errors))
        TraceRun(*analysis.errors, at, length, event);
    // Either ends the frame that a sync started.
    if ((complete || error) && outputs.framesCsv != nullptr) {
        WriteFrameRow(*outputs.framesCsv, analysis.tally.frame);
    }
    if (event.kind != Kind::Pos1Written) return;
    AddPos1(analysis.track, at, event.pos1);
    analysis.lastPos1At = at;
    if (outputs.pos1Csv != nullptr) WritePos1Row(*outputs.pos1Csv, at, event.pos1);
}

// The readers below return false, with `reader.error` set, when the input turns out corrupt.
bool AnalyzeLog(InputReader& reader, Analysis& analysis, const AnalysisOutputs& outputs) {
    std::vector<int32_t> runs(kLogChunkRuns);
    int64_t count = 0;
    while ((count = ReadLogRuns(reader, runs.data(), runs.size())) > 0) {
        for (int64_t i = 0; i < count; ++i)
            TakeRun(analysis, outputs, runs[static_cast<size_t>(i)]);
    }
    analysis.zeroTail = reader.pendingZeros;
    return count == 0;
}

// Slices `count` bytes and takes every run that ends: sample by sample while an error trace still
// wants the envelopes after every sample, then the rest in one call.
void SliceChunk(decode::RunSlicer& slicer, Analysis& analysis, const AnalysisOutputs& outputs,
                const uint8_t* bytes, size_t count) {
    const auto take = [&](common::Run run) { TakeRun(analysis, outputs, run.length); };
    size_t at = 0;
    for (ErrorTrace* trace = analysis.errors.get();
         trace != nullptr && at < count && TraceWanted(*trace); at += 2) {
        decode::SliceBuffer(slicer, bytes + at, 2, take);
        TraceSample(*trace, common::DecodeLe16Sample(bytes + at), slicer.upper, slicer.lower);
    }
    decode::SliceBuffer(slicer, bytes + at, count - at, take);
}

// The slicer hands every run to the tally, in delivery order, as it hands them to DecodeRun in
// test mode; the statistics see each run on the way.
bool AnalyzeSamples(InputReader& reader, Analysis& analysis, const AnalysisOutputs& outputs) {
    analysis.audio = reader.recording.description;
    if (outputs.traceErrors) analysis.errors = std::make_unique<ErrorTrace>();
    decode::RunSlicer slicer;
    std::vector<uint8_t> bytes(kSampleChunkBytes);
    int64_t count = 0;
    while ((count = ReadSampleBytes(reader, bytes.data(), bytes.size())) > 0) {
        AddSamples(analysis.level, bytes.data(), static_cast<size_t>(count));
        SliceChunk(slicer, analysis, outputs, bytes.data(), static_cast<size_t>(count));
    }
    if (analysis.errors != nullptr) FinishTrace(*analysis.errors);
    return count == 0;
}

}  // namespace

int64_t DurationSamples(const Analysis& analysis) {
    return analysis.kind == InputKind::RunLog ? analysis.runs.totalSamples : analysis.level.samples;
}

bool AnalyzeInput(InputReader& reader, Analysis& analysis, const AnalysisOutputs& outputs,
                  std::string& error) {
    analysis.kind = reader.kind;
    const bool read = reader.kind == InputKind::RunLog ? AnalyzeLog(reader, analysis, outputs)
                                                       : AnalyzeSamples(reader, analysis, outputs);
    if (!read) error = reader.error;
    // A frame still being read when the input ends stays unfinished.
    if (read && analysis.tally.decoder.state != decode::DecoderState::Hunting) {
        analysis.tally.frame.outcome = FrameOutcome::Unfinished;
        if (outputs.framesCsv != nullptr) WriteFrameRow(*outputs.framesCsv, analysis.tally.frame);
    }
    return read;
}

}  // namespace analyze
