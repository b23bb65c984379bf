// Feeds the run slicer arbitrary bytes in arbitrary chunkings, in both modes and with small log
// capacities, and checks that one call over the whole input and many chunked calls give exactly
// the same runs, decoder state and envelopes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "app/pipeline.h"

namespace {

using app::DecodeBlock;
using app::LogBlock;
using app::Pipeline;
using common::ReadWord;

// The live tool's pipeline of either mode, with a run log of `capacity` entries in log mode.
struct Chain {
    std::vector<int32_t> entries;
    Pipeline pipeline;
    decltype(&DecodeBlock) take;

    Chain(common::Mode mode, int32_t capacity)
        : entries(static_cast<size_t>(capacity) + 1),
          take(mode == common::Mode::Test ? &DecodeBlock : &LogBlock) {
        pipeline.runLog.capacity = capacity;
        pipeline.runLog.entries = entries.data();
    }
    void Feed(const uint8_t* samples, size_t bytes) {
        take(&pipeline, samples, static_cast<uint32_t>(bytes));
    }
};

void Check(bool ok) {
    if (!ok) std::abort();
}

void CheckSame(const Chain& chainA, const Chain& chainB) {
    const Pipeline& a = chainA.pipeline;
    const Pipeline& b = chainB.pipeline;
    Check(ReadWord(a.runLog.count) == ReadWord(b.runLog.count));
    Check(std::memcmp(chainA.entries.data(), chainB.entries.data(),
                      chainA.entries.size() * sizeof(int32_t)) == 0);
    Check(ReadWord(a.status.stopRequested) == ReadWord(b.status.stopRequested));
    Check(ReadWord(a.status.pcmFrames) == ReadWord(b.status.pcmFrames));
    Check(ReadWord(a.status.pcmErrors) == ReadWord(b.status.pcmErrors));
    Check(ReadWord(a.status.pos1) == ReadWord(b.status.pos1));
    Check(std::memcmp(&a.decoder, &b.decoder, sizeof a.decoder) == 0);
    Check(a.slicer.upper == b.slicer.upper && a.slicer.lower == b.slicer.lower);
    Check(a.slicer.highRun == b.slicer.highRun && a.slicer.lowRun == b.slicer.lowRun);
}

}  // namespace

// Layout of an input: byte 0 picks the mode and the log capacity (0..127), byte 1 seeds the chunk
// sizes, the rest are samples.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const common::Mode mode = (data[0] & 0x80) != 0 ? common::Mode::Log : common::Mode::Test;
    const int32_t capacity = data[0] & 0x7F;
    uint32_t chunkSeed = data[1] * 2654435761u + 1u;
    const uint8_t* samples = data + 2;
    const size_t bytes = (size - 2) & ~static_cast<size_t>(1);

    Chain whole(mode, capacity);
    whole.Feed(samples, bytes);

    Chain chunked(mode, capacity);
    size_t at = 0;
    while (at < bytes) {
        chunkSeed = chunkSeed * 1103515245u + 12345u;
        const size_t chunk = size_t{2} * (1 + (chunkSeed >> 16) % 600);
        const size_t n = chunk < bytes - at ? chunk : bytes - at;
        chunked.Feed(samples + at, n);
        at += n;
    }
    CheckSame(whole, chunked);
    Check(ReadWord(whole.pipeline.runLog.count) <= capacity);
    return 0;
}
