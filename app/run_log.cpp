#include "app/run_log.h"

#include <bit>
#include <cstdlib>

#include "decode/run_slicer.h"

namespace {

// Beyond this magnitude the value is clamped; it only has to stay well past MaxLogEntries.
constexpr int64_t kCountLimit = int64_t{1} << 31;

// The C locale's white space, which is what atol skips.
bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

}  // namespace

int64_t ReadCount(const char* word) {
    const char* p = word;
    while (IsBlank(*p)) ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') {
        negative = *p == '-';
        ++p;
    }
    int64_t magnitude = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        if (magnitude < kCountLimit) magnitude = magnitude * 10 + (*p - '0');
    }
    if (negative) return magnitude > kCountLimit ? -kCountLimit : -magnitude;
    return magnitude >= kCountLimit ? kCountLimit - 1 : magnitude;
}

int32_t Create(common::RunLog& log, const char* fileName, const char* nbSamples, FILE* out) {
    const int64_t capacity = ReadCount(nbSamples);
    if (capacity < 0 || capacity >= MaxLogEntries) {
        std::fprintf(out, "ERROR NbSamples out of range \"%s\"\n", nbSamples);
        std::fflush(out);
        return 1;
    }
    int32_t* entries = nullptr;
    if (capacity > 0) {
        // calloc rather than new[] + fill: large blocks come straight from the system already
        // zeroed, so nothing is touched until the slicer writes it, and the tail of a log stopped
        // early is written as zeros instead of whatever the heap held.
        entries =
            static_cast<int32_t*>(std::calloc(static_cast<size_t>(capacity), sizeof(int32_t)));
        if (entries == nullptr) {
            std::fprintf(out, "ERROR not enough memory for %ld entries\n",
                         static_cast<long>(capacity));
            std::fflush(out);
            return 1;
        }
    }
    log.path = fileName;
    log.capacity = static_cast<int32_t>(capacity);
    log.entries = entries;
    common::WriteWord(log.count, 0);
    return 0;
}

int32_t WriteLogFile(common::RunLog& log, FILE* out) {
    std::fputs("Writing logfile...\n", out);
    std::fflush(out);

    FILE* file = std::fopen(log.path, "wb");
    if (file == nullptr) {
        std::fprintf(out, "ERROR opening file \"%s\"\n", log.path);
        std::fflush(out);
        std::free(log.entries);
        log.entries = nullptr;
        return 1;
    }

    // The file is little-endian whatever the host; capture has stopped, so the entries may be
    // turned in place.
    static_assert(
        std::endian::native == std::endian::little || std::endian::native == std::endian::big,
        "the log writer knows only little- and big-endian hosts");
    if constexpr (std::endian::native == std::endian::big) {
        for (int32_t k = 0; k < log.capacity; ++k) {
            const auto v = static_cast<uint32_t>(log.entries[k]);
            log.entries[k] = static_cast<int32_t>((v >> 24) | ((v >> 8) & 0x0000FF00u) |
                                                  ((v << 8) & 0x00FF0000u) | (v << 24));
        }
    }

    const auto capacity = static_cast<size_t>(log.capacity);
    bool complete =
        capacity == 0 || std::fwrite(log.entries, sizeof(int32_t), capacity, file) == capacity;
    // Buffered bytes reach the disk only here, so a full disk often shows up at the close.
    if (std::fclose(file) != 0) complete = false;
    std::free(log.entries);
    log.entries = nullptr;

    if (!complete) {
        std::fprintf(out, "ERROR writing to file \"%s\"\n", log.path);
        std::fflush(out);
        return 1;
    }
    return 0;
}

void AppendRun(common::RunLog& log, common::SharedStatus& status, common::Run run) {
    const int32_t count = common::ReadWord(log.count);
    if (count >= log.capacity) {
        common::WriteWord(status.stopRequested, 1);
        return;
    }
    // The log starts with a Low run so that its entries alternate Low, High from entry 0.
    if (run.level == common::RunLevel::High && count == 0) return;
    log.entries[count] = run.length;
    // Release: the journal writer on the main thread reads the entries below the count it loads.
    common::PublishCount(log.count, count + 1);
}

std::vector<int32_t> LoggedRuns(const uint8_t* bytes, size_t count) {
    // A run takes at least one sample.
    std::vector<int32_t> entries(count / 2 + 1);
    common::RunLog log;
    log.capacity = static_cast<int32_t>(entries.size());
    log.entries = entries.data();
    common::SharedStatus status;
    decode::RunSlicer slicer;
    decode::SliceBuffer(slicer, bytes, count,
                        [&](common::Run run) { AppendRun(log, status, run); });
    entries.resize(static_cast<size_t>(common::ReadWord(log.count)));
    return entries;
}
