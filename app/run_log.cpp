#include "app/run_log.h"

#include <bit>
#include <cstdlib>

#include "app/texts.h"
#include "common/little_endian.h"
#include "decode/run_slicer.h"

namespace app {

int32_t CreateRunLog(common::RunLog& log, const char* path, int32_t runCount, FILE* out) {
    int32_t* entries = nullptr;
    if (runCount > 0) {
        // calloc rather than new[] + fill: large blocks come straight from the system already
        // zeroed, so nothing is touched until the slicer writes it, and the tail of a log stopped
        // early is written as zeros.
        entries =
            static_cast<int32_t*>(std::calloc(static_cast<size_t>(runCount), sizeof(int32_t)));
        if (entries == nullptr) {
            PrintText(out, kAppTexts.noMemory, static_cast<long>(runCount));
            return 1;
        }
    }
    log.path = path;
    log.capacity = runCount;
    log.entries = entries;
    common::WriteWord(log.count, 0);
    return 0;
}

int32_t WriteLogFile(common::RunLog& log, FILE* out) {
    PrintText(out, kAppTexts.writingLog);
    const char* failure = nullptr;
    FILE* file = std::fopen(log.path, "wb");
    if (file == nullptr) {
        failure = kAppTexts.cannotOpenLog;
    } else {
        // The file is little-endian whatever the host; capture has stopped, so the entries may be
        // turned in place.
        if constexpr (std::endian::native != std::endian::little) {
            for (int32_t k = 0; k < log.capacity; ++k) {
                common::EncodeLe32(static_cast<uint32_t>(log.entries[k]),
                                   reinterpret_cast<uint8_t*>(&log.entries[k]));
            }
        }
        const auto capacity = static_cast<size_t>(log.capacity);
        const bool written =
            capacity == 0 || std::fwrite(log.entries, sizeof(int32_t), capacity, file) == capacity;
        // Buffered bytes reach the disk only here, so a full disk often shows up at the close.
        if (std::fclose(file) != 0 || !written) failure = kAppTexts.cannotWriteLog;
    }
    std::free(log.entries);
    log.entries = nullptr;
    if (failure == nullptr) return 0;
    PrintText(out, failure, log.path);
    return 1;
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

}  // namespace app
