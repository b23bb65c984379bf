// Helper of the end-to-end tests: the runs that the run slicer gives offline for the samples of a
// WAV file, and their comparison with a run log that `vorlank L` recorded live while the same file
// was played into the sound input.
//
//   e2e_runs count WAV        prints how many runs the log-mode storing rule keeps for WAV
//   e2e_runs compare WAV LOG  exit 0 when LOG, after a few settling entries, equals a stretch of
//                             the offline runs entry for entry
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

// Entries the live log may need before it agrees with the offline runs.
constexpr size_t kMaxSettle = 16;

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

int Compare(const std::vector<int32_t>& offline, const std::vector<int32_t>& live) {
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
    std::fprintf(stderr,
                 "e2e_runs: no alignment; longest agreement %zu entries from live %zu / offline "
                 "%zu, then live %d "
                 "vs offline %d\n",
                 best, bestSettle, bestAt,
                 bestSettle + best < live.size() ? live[bestSettle + best] : -1,
                 bestAt + best < offline.size() ? offline[bestAt + best] : -1);
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string command = argc > 1 ? argv[1] : "";
    if (!((command == "count" && argc == 3) || (command == "compare" && argc == 4))) {
        std::fprintf(stderr, "usage: e2e_runs count WAV | e2e_runs compare WAV LOG\n");
        return 2;
    }
    std::vector<uint8_t> samples;
    if (!ReadWavSamples(argv[2], samples)) return 2;
    const std::vector<int32_t> offline = app::LoggedRuns(samples.data(), samples.size());
    if (command == "count") {
        std::printf("%zu\n", offline.size());
        return 0;
    }
    return Compare(offline, ReadLog(argv[3]));
}
