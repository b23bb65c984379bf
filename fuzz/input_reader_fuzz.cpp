// Feeds vorlank-analyze's input readers arbitrary bytes, four ways: as a file whose size is known,
// as a stream whose size is not (a pipe), as raw 16-bit samples, and as raw float stereo samples
// at 48 kHz (the float scale, the channel pick and the resampler). A file or stream goes to the
// run-log reader or to libsndfile by its content, as the tool would send it. Whatever the bytes,
// every read stays within what was asked for, samples come in whole pairs of bytes, runs are at
// least one sample long, a refusal says why, and a stream gives exactly what the file gives
// whenever the file reads through: the two differ only where a file can be checked against its
// size, and where there is nothing at all (an empty file is a log of no runs, an empty stream a
// writer that never wrote).
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "analyze/input_reader.h"

namespace {

using namespace analyze;

void Check(bool ok) {
    if (!ok) std::abort();
}

struct Outcome {
    bool ok = false;
    InputKind kind = InputKind::RunLog;
    std::vector<uint8_t> data;  // sample bytes, or the runs as their bytes
    int64_t zeroTail = 0;
};

// Reads everything, in pieces of varying size so that every boundary of the readers is crossed.
Outcome ReadAll(const uint8_t* bytes, size_t size, bool knownSize, const InputRequest& request) {
    Outcome outcome;
    // A real (temporary) file rather than fmemopen: libsndfile seeks past the end of a WAV whose
    // data chunk claims more than there is, which a file allows and a memory stream refuses, so a
    // memory stream would read some headers differently from the file a user gives.
    std::FILE* file = std::tmpfile();
    Check(file != nullptr);
    Check(size == 0 || std::fwrite(bytes, 1, size, file) == size);
    std::rewind(file);
    InputReader reader;
    if (!OpenInputStream(reader, file, knownSize ? static_cast<int64_t>(size) : -1, request, "-")) {
        Check(!reader.error.empty());
        CloseInput(reader);
        std::fclose(file);
        return outcome;
    }
    outcome.kind = reader.kind;
    static constexpr size_t kPieces[] = {2, 6, 64, 4098, 1};
    for (size_t turn = 0;; ++turn) {
        const size_t piece = kPieces[turn % std::size(kPieces)];
        int64_t got = 0;
        if (reader.kind == InputKind::RunLog) {
            std::vector<int32_t> runs(piece);
            got = ReadLogRuns(reader, runs.data(), runs.size());
            Check(got <= static_cast<int64_t>(runs.size()));
            for (int64_t i = 0; i < got; ++i) {
                Check(runs[static_cast<size_t>(i)] >= 1);
                const auto* run = reinterpret_cast<const uint8_t*>(&runs[static_cast<size_t>(i)]);
                outcome.data.insert(outcome.data.end(), run, run + sizeof(int32_t));
            }
        } else {
            std::vector<uint8_t> samples(piece & ~size_t{1});
            got = ReadSampleBytes(reader, samples.data(), samples.size());
            Check(got <= static_cast<int64_t>(samples.size()) && (got < 0 || got % 2 == 0));
            if (got > 0)
                outcome.data.insert(outcome.data.end(), samples.begin(), samples.begin() + got);
        }
        if (got < 0) {
            Check(!reader.error.empty());
            CloseInput(reader);
            std::fclose(file);
            return outcome;
        }
        // A piece too small for a single sample reads nothing without meaning the end.
        if (got == 0 && (reader.kind == InputKind::RunLog || piece >= 2)) break;
    }
    outcome.ok = true;
    outcome.zeroTail = reader.pendingZeros;
    CloseInput(reader);
    std::fclose(file);
    return outcome;
}

}  // namespace

// libsndfile 1.2.0 leaves the Vorbis decoder's header record allocated when it gives up on a
// malformed Ogg Vorbis stream: a leak in the libraries, once per input that fails to open, which
// this target cannot mend. Only allocations made inside libvorbis are let pass; a handle of
// libsndfile's that the reader failed to close is still reported, by its own allocation.
extern "C" const char* __lsan_default_suppressions() {  // NOLINT(bugprone-reserved-identifier)
    return "leak:libvorbis.so\n";
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const Outcome file = ReadAll(data, size, true, {});
    const Outcome stream = ReadAll(data, size, false, {});
    if (size == 0) Check(file.ok && !stream.ok);
    if (file.ok && size > 0) {
        Check(stream.ok && stream.kind == file.kind && stream.data == file.data &&
              stream.zeroTail == file.zeroTail);
    }
    if (file.ok && file.kind == InputKind::RunLog) {
        Check(file.data.size() + 4 * static_cast<size_t>(file.zeroTail) == size);
    }
    // Raw 16-bit samples are the bytes themselves, but for an odd last one.
    InputRequest raw;
    raw.raw = true;
    const Outcome samples = ReadAll(data, size, false, raw);
    Check(samples.ok == (size > 0) && samples.data.size() == (size & ~size_t{1}));
    Check(samples.data.empty() || std::memcmp(samples.data.data(), data, samples.data.size()) == 0);
    // Raw float stereo at 48 kHz, its right channel: one 16-bit sample at 44 100 Hz for every
    // sample frame of 8 bytes, 44100/48000 of them, give or take the resampler's last one.
    raw.layout = RawLayout{RawEncoding::Float32LE, 48000, 2};
    raw.channel = 2;
    const Outcome resampled = ReadAll(data, size, true, raw);
    const double frames = static_cast<double>(size / 8);
    const auto made = static_cast<double>(resampled.data.size() / 2);
    Check(resampled.ok && made <= frames * 44100.0 / 48000.0 + 2.0);
    return 0;
}
