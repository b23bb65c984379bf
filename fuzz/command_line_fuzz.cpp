// Feeds the command-line reader and the NbSamples reader arbitrary words. The input is split into
// words at NUL bytes. Checks the parse against the two accepted forms, and ReadCount against the
// C library's strtoll (same syntax, saturating), clamped as ReadCount documents.
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/command_line.h"

namespace {

void Check(bool ok) {
    if (!ok) std::abort();
}

int64_t ReferenceCount(const char* word) {
    errno = 0;
    const long long value = std::strtoll(word, nullptr, 10);
    constexpr long long kLow = -(1LL << 31);
    constexpr long long kHigh = (1LL << 31) - 1;
    return value < kLow ? kLow : value > kHigh ? kHigh : value;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<std::string> storage;
    storage.emplace_back();
    for (size_t i = 0; i < size && storage.size() <= 8; ++i) {
        if (data[i] == 0) {
            storage.emplace_back();
        } else {
            storage.back() += static_cast<char>(data[i]);
        }
    }
    std::vector<const char*> words;
    for (const std::string& w : storage) words.push_back(w.c_str());

    static FILE* sink = std::fopen("/dev/null", "w");
    const app::CommandLine parsed =
        app::ParseCommandLine(static_cast<int>(words.size()), words.data(), sink);
    const bool test = std::strcmp(words[0], "T") == 0;
    const int64_t runCount = words.size() >= 3 ? app::ReadCount(words[2]) : -1;
    const bool log =
        !test && std::strcmp(words[0], "L") == 0 && runCount >= 0 && runCount < app::kMaxLogEntries;
    Check(parsed.exitCode == (test || log ? 0 : 1));
    if (test) Check(parsed.mode == common::Mode::Test);
    if (log) {
        Check(parsed.mode == common::Mode::Log);
        Check(parsed.fileName == words[1] && parsed.runCount == runCount);
    }

    for (const char* word : words) Check(app::ReadCount(word) == ReferenceCount(word));
    return 0;
}
