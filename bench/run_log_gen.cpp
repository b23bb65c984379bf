// vorlank-runlog-gen FILE NbRuns: writes a run log of exactly NbRuns runs, as `vorlank L` would
// have recorded it from a long transmission, for measuring vorlank-analyze on big inputs
// (scripts/measure-analyze). One block of runs, repeated, so memory stays at one block.
// Single-threaded.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "app/run_log.h"
#include "common/little_endian.h"
#include "synth/signal_synth.h"
#include "synth/wav_file.h"

namespace {

// The runs of ten seconds of synthesized signal (sweeping Pos1 and some noise, so that frames,
// errors and a spread of run lengths all occur), as log mode stores them: from a Low run, and cut
// to an even length so that the block ends on a High one and repeats in step.
std::vector<int32_t> SignalRuns() {
    synth::SynthConfig config;
    config.frameCount = synth::FramesForDuration(config, 10.0);
    config.sweep = true;
    config.sweepStep = 3;
    config.noise = 2800.0;
    config.seed = 42;
    const std::vector<uint8_t> bytes = synth::SamplesToBytes(synth::Synthesize(config).samples);

    std::vector<int32_t> entries = app::LoggedRuns(bytes.data(), bytes.size());
    entries.resize(entries.size() & ~size_t{1});
    return entries;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "Usage: vorlank-runlog-gen FILE NbRuns\n");
        return 2;
    }
    char* end = nullptr;
    errno = 0;
    const long long wanted = std::strtoll(argv[2], &end, 10);
    if (errno != 0 || end == argv[2] || *end != '\0' || wanted < 0) {
        std::fprintf(stderr, "vorlank-runlog-gen: '%s' is not a run count\n", argv[2]);
        return 2;
    }
    const std::vector<int32_t> block = SignalRuns();
    std::vector<uint8_t> bytes(block.size() * 4);
    for (size_t k = 0; k < block.size(); ++k)
        common::EncodeLe32(static_cast<uint32_t>(block[k]), &bytes[4 * k]);
    std::FILE* out = std::fopen(argv[1], "wb");
    if (out == nullptr) {
        std::fprintf(stderr, "vorlank-runlog-gen: cannot create '%s'\n", argv[1]);
        return 1;
    }
    long long left = wanted;
    while (left > 0) {
        const size_t runs =
            left < static_cast<long long>(block.size()) ? static_cast<size_t>(left) : block.size();
        if (std::fwrite(bytes.data(), 4, runs, out) != runs) break;
        left -= static_cast<long long>(runs);
    }
    if (std::fclose(out) != 0 || left > 0) {
        std::fprintf(stderr, "vorlank-runlog-gen: writing '%s' failed\n", argv[1]);
        return 1;
    }
    std::printf("vorlank-runlog-gen: %lld runs (blocks of %zu) written to %s\n", wanted,
                block.size(), argv[1]);
    return 0;
}
