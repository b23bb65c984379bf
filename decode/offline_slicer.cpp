#include "decode/offline_slicer.h"

int32_t SliceStretch(OfflineSlicer& offline, const uint8_t* bytes, uint32_t byteCount) {
    // Wired on every call rather than once, so that the record may be copied or moved freely.
    offline.batch.capacity = static_cast<int32_t>(offline.entries.size());
    offline.batch.entries = offline.entries.data();
    offline.slicer.out = RunConsumers{Mode::Log, nullptr, &offline.batch, &offline.status};
    Store(offline.batch.count, 1);
    SliceBuffer(offline.slicer, bytes,
                byteCount < kOfflineSliceBytes ? byteCount : kOfflineSliceBytes);
    return Load(offline.batch.count) - 1;
}

std::vector<int32_t> LoggedRuns(const uint8_t* bytes, size_t count) {
    std::vector<int32_t> entries(count / 2 + 1);
    RunLog log;
    log.capacity = static_cast<int32_t>(entries.size());
    log.entries = entries.data();
    SharedStatus status;
    RunSlicer slicer;
    slicer.out = RunConsumers{Mode::Log, nullptr, &log, &status};
    for (size_t at = 0; at < count; at += kOfflineSliceBytes) {
        const size_t piece = count - at < kOfflineSliceBytes ? count - at : kOfflineSliceBytes;
        SliceBuffer(slicer, bytes + at, static_cast<uint32_t>(piece));
    }
    entries.resize(static_cast<size_t>(Load(log.count)));
    return entries;
}
