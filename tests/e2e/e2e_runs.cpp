// Helper of the end-to-end tests: the runs that the run slicer gives offline for the samples of a
// WAV file, and their comparison with a run log that `vorlank L` recorded live while the same file
// was played into the sound input.
//
//   e2e_runs count WAV        prints how many runs the log-mode storing rule keeps for WAV
//   e2e_runs compare WAV LOG  exit 0 when LOG, after a few settling entries, equals a stretch of
//                             the offline runs entry for entry
//   e2e_runs compare --unseen-gap WAV LOG
//                             the same, or two such stretches either side of one gap shorter than
//                             the tool's smallest reported loss (for winmm, see kMaxUnseenGap)
//
// The live log starts wherever capture happened to pick the signal up, and the slicer's envelopes
// may sit a little differently at that moment than they do offline, so the first entries may
// differ; once the first peaks of the signal have set both envelopes the two slicers are in the
// same state and every later run must be identical.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/run_log.h"
#include "common/signal_format.h"

namespace {

// Entries the live log may need before it agrees with the offline runs, also after a gap.
constexpr size_t kMaxSettle = 16;

// winmm says nothing of sound that the sound system drops, so the tool reports a loss only from
// its arrival clock: 35 ms or more once its blocks ran dry, 100 ms otherwise. Wine's record stream
// can drop a few tens of milliseconds without a word when the sound server is held up (seen with
// the server stopped for 0.1-0.2 s while another client records at low latency). Such a loss
// leaves a splice: the runs agree with the offline runs up to a point, a few runs span the gap,
// and from then on the runs agree again with offline runs that lie up to this many samples later.
// Wine drops whole 10 ms periods of its stream (1, 5 and 12 of them seen, the last reported): a
// gap of less than half a period, or one with only a few runs after it (a wrong last run), is not
// wine's and stays a failure.
constexpr int64_t kMaxUnseenGap = common::kSampleRateHz / 10;
constexpr int64_t kMinUnseenGap = common::kSampleRateHz / 200;
constexpr size_t kMinRunsAfterGap = 256;
// Live entries that may span the gap: the cut leaves the slicer's envelopes off, and they take some
// dozens of runs of the sweep to settle again (up to 30 seen).
constexpr size_t kMaxSpanning = 64;

bool ReadFile(const char* path, std::vector<uint8_t>& bytes) {
    std::FILE* f = std::fopen(path, "rb");
    if (f == nullptr) return false;
    uint8_t chunk[65536];
    size_t got = 0;
    while ((got = std::fread(chunk, 1, sizeof chunk, f)) > 0)
        bytes.insert(bytes.end(), chunk, chunk + got);
    std::fclose(f);
    return true;
}

uint32_t Le32(const uint8_t* p) {
    return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24;
}
uint16_t Le16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}

// The data chunk of a 16-bit mono 44 100 Hz PCM WAV file, as little-endian sample bytes.
bool ReadWavSamples(const char* path, std::vector<uint8_t>& data) {
    std::vector<uint8_t> file;
    if (!ReadFile(path, file) || file.size() < 12 || std::memcmp(file.data(), "RIFF", 4) != 0 ||
        std::memcmp(file.data() + 8, "WAVE", 4) != 0) {
        std::fprintf(stderr, "e2e_runs: %s is not a RIFF/WAVE file\n", path);
        return false;
    }
    bool formatOk = false;
    for (size_t at = 12; at + 8 <= file.size();) {
        const uint32_t size = Le32(&file[at + 4]);
        const uint8_t* body = &file[at + 8];
        if (at + 8 + size > file.size()) break;
        if (std::memcmp(&file[at], "fmt ", 4) == 0 && size >= 16) {
            formatOk = Le16(body) == 1 && Le16(body + 2) == 1 &&
                       Le32(body + 4) == static_cast<uint32_t>(common::kSampleRateHz) &&
                       Le16(body + 14) == 16;
        } else if (std::memcmp(&file[at], "data", 4) == 0) {
            if (!formatOk) break;
            data.assign(body, body + size);
            return true;
        }
        at += 8 + size + (size & 1);
    }
    std::fprintf(stderr, "e2e_runs: %s holds no 16-bit mono 44100 Hz PCM data\n", path);
    return false;
}

std::vector<int32_t> ReadLog(const char* path) {
    std::vector<uint8_t> bytes;
    std::vector<int32_t> entries;
    if (!ReadFile(path, bytes)) return entries;
    for (size_t at = 0; at + 4 <= bytes.size(); at += 4)
        entries.push_back(static_cast<int32_t>(Le32(&bytes[at])));
    return entries;
}

// Length of the agreement of live[from..] with offline[at..], stopping at the first difference.
size_t Agreement(const std::vector<int32_t>& live, size_t from, const std::vector<int32_t>& offline,
                 size_t at) {
    size_t n = 0;
    while (from + n < live.size() && at + n < offline.size() && live[from + n] == offline[at + n])
        ++n;
    return n;
}

int64_t Sum(const std::vector<int32_t>& runs, size_t from, size_t to) {
    int64_t samples = 0;
    for (size_t i = from; i < to; ++i) samples += runs[i];
    return samples;
}

// After live[..brokeLive) agreed with offline[..brokeOffline) and the next entries differ: looks
// for the stretch after one unseen gap, a few live entries on, that agrees to the end of the log
// with the offline runs from kMinUnseenGap to kMaxUnseenGap samples later. Prints the splice when
// found.
bool FindResumption(const std::vector<int32_t>& live, size_t brokeLive,
                    const std::vector<int32_t>& offline, size_t brokeOffline, size_t settle,
                    size_t at) {
    for (size_t spanning = 0; spanning <= kMaxSpanning; ++spanning) {
        const size_t resumeLive = brokeLive + spanning;
        if (resumeLive + kMinRunsAfterGap > live.size()) break;
        const int64_t seen = Sum(live, brokeLive, resumeLive);
        // Entries keep their level by position on both sides, so the parity of the offset holds.
        for (size_t resume = brokeOffline + spanning % 2; resume < offline.size(); resume += 2) {
            const int64_t lost = Sum(offline, brokeOffline, resume) - seen;
            if (lost > kMaxUnseenGap) break;
            if (lost < kMinUnseenGap) continue;
            if (Agreement(live, resumeLive, offline, resume) != live.size() - resumeLive) continue;
            std::printf(
                "live entries %zu..%zu equal offline runs %zu..%zu (%zu settling entries); then "
                "about %lld samples lost unseen, %zu live entries across the gap; live "
                "entries %zu..%zu equal offline runs %zu..%zu\n",
                settle, brokeLive - 1, at, brokeOffline - 1, settle, static_cast<long long>(lost),
                spanning, resumeLive, live.size() - 1, resume,
                resume + live.size() - resumeLive - 1);
            return true;
        }
    }
    return false;
}

int Compare(const std::vector<int32_t>& offline, const std::vector<int32_t>& live, bool allowGap) {
    if (live.size() <= kMaxSettle) {
        std::fprintf(stderr, "e2e_runs: the log holds only %zu entries\n", live.size());
        return 1;
    }
    // Entries keep their level by position (even Low, odd High), so only offsets that keep the
    // parity can line the two up.
    for (size_t settle = 0; settle <= kMaxSettle; ++settle) {
        for (size_t at = settle % 2; at < offline.size(); at += 2) {
            if (Agreement(live, settle, offline, at) == live.size() - settle) {
                std::printf(
                    "live entries %zu..%zu equal offline runs %zu..%zu (%zu settling entries)\n",
                    settle, live.size() - 1, at, at + live.size() - settle - 1, settle);
                return 0;
            }
        }
    }
    size_t best = 0, bestSettle = 0, bestAt = 0;
    for (size_t settle = 0; settle <= kMaxSettle; ++settle) {
        for (size_t at = settle % 2; at < offline.size(); at += 2) {
            const size_t n = Agreement(live, settle, offline, at);
            if (n > best) best = n, bestSettle = settle, bestAt = at;
        }
    }
    const size_t brokeLive = bestSettle + best, brokeOffline = bestAt + best;
    if (allowGap && best > 0 &&
        FindResumption(live, brokeLive, offline, brokeOffline, bestSettle, bestAt))
        return 0;
    std::fprintf(stderr,
                 "e2e_runs: no alignment; longest agreement %zu entries from live %zu / offline "
                 "%zu, then live %d vs offline %d\n",
                 best, bestSettle, bestAt, brokeLive < live.size() ? live[brokeLive] : -1,
                 brokeOffline < offline.size() ? offline[brokeOffline] : -1);
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string command = argc > 1 ? argv[1] : "";
    const bool allowGap =
        command == "compare" && argc > 2 && std::strcmp(argv[2], "--unseen-gap") == 0;
    // Of the WAV file; the log follows it.
    const int wav = allowGap ? 3 : 2;
    if (!((command == "count" && argc == 3) || (command == "compare" && argc == wav + 2))) {
        std::fprintf(stderr,
                     "usage: e2e_runs count WAV | e2e_runs compare [--unseen-gap] WAV LOG\n");
        return 2;
    }
    std::vector<uint8_t> samples;
    if (!ReadWavSamples(argv[wav], samples)) return 2;
    const std::vector<int32_t> offline = app::LoggedRuns(samples.data(), samples.size());
    if (command == "count") {
        std::printf("%zu\n", offline.size());
        return 0;
    }
    return Compare(offline, ReadLog(argv[wav + 1]), allowGap);
}
