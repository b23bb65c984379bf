// Feeds the run slicer arbitrary bytes in arbitrary chunkings, in both modes and with small log
// capacities, and checks that one call over the whole input and many chunked calls give exactly
// the same runs, decoder state and envelopes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "decode/run_slicer.h"

namespace {

struct Chain {
    std::vector<int32_t> entries;
    RunLog log;
    FrameDecoder decoder;
    SharedStatus status;
    RunSlicer slicer;

    Chain(Mode mode, int32_t capacity) : entries(static_cast<size_t>(capacity) + 1) {
        log.capacity = capacity;
        log.entries = entries.data();
        slicer.out = RunConsumers{mode, &decoder, &log, &status};
    }
};

void Check(bool ok) {
    if (!ok) std::abort();
}

void CheckSame(const Chain& a, const Chain& b) {
    Check(Load(a.log.count) == Load(b.log.count));
    Check(std::memcmp(a.entries.data(), b.entries.data(), a.entries.size() * sizeof(int32_t)) == 0);
    Check(Load(a.status.stopRequested) == Load(b.status.stopRequested));
    Check(Load(a.status.pcmFrames) == Load(b.status.pcmFrames));
    Check(Load(a.status.pcmErrors) == Load(b.status.pcmErrors));
    Check(Load(a.status.pos1) == Load(b.status.pos1));
    Check(std::memcmp(&a.decoder, &b.decoder, sizeof a.decoder) == 0);
    Check(a.slicer.upper == b.slicer.upper && a.slicer.lower == b.slicer.lower);
    Check(a.slicer.highRun == b.slicer.highRun && a.slicer.lowRun == b.slicer.lowRun);
}

}  // namespace

// Layout of an input: byte 0 picks the mode and the log capacity (0..127), byte 1 seeds the chunk
// sizes, the rest are samples.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const Mode mode = (data[0] & 0x80) != 0 ? Mode::Log : Mode::Test;
    const int32_t capacity = data[0] & 0x7F;
    uint32_t chunkSeed = data[1] * 2654435761u + 1u;
    const uint8_t* samples = data + 2;
    const size_t bytes = (size - 2) & ~static_cast<size_t>(1);

    Chain whole(mode, capacity);
    SliceBuffer(whole.slicer, samples, static_cast<uint32_t>(bytes));

    Chain chunked(mode, capacity);
    size_t at = 0;
    while (at < bytes) {
        chunkSeed = chunkSeed * 1103515245u + 12345u;
        const size_t chunk = size_t{2} * (1 + (chunkSeed >> 16) % 600);
        const size_t n = chunk < bytes - at ? chunk : bytes - at;
        SliceBuffer(chunked.slicer, samples + at, static_cast<uint32_t>(n));
        at += n;
    }
    CheckSame(whole, chunked);
    Check(Load(whole.log.count) <= capacity);
    return 0;
}
