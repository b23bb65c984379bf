// Cutting stored samples into runs offline, with the live tool's own run slicer: for the analyzer
// (recordings and raw streams), the tests, and the tools that set a recording beside a run log.
//
// Live, the slicer hands each run straight to the decoder or to the run log. Offline the caller
// wants every run itself, in order, with nothing allocated per sample, so the slicer runs in log
// mode into a small log that holds one slice's runs and is emptied after every slice. Two rules of
// log mode shape this: a High run that arrives while the log is empty is dropped (a log starts on
// a Low run), and a full log drops runs. Entry 0 of the small log is therefore a placeholder that
// is never emptied, so no run of the samples is ever the first; and the log has room for one run
// per sample of a slice, the most a slice can deliver.
//
// The runs come out exactly as live: the slicer carries its state across slices, and how samples
// are cut into slices never changes which runs come out. The first run starts at the first sample;
// the run still open when the samples end is never delivered.
//
// Threads: a record belongs to one caller; no shared state.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "common/shared_types.h"
#include "decode/run_slicer.h"

// Samples per slice: the 512 of one capture buffer, so offline work goes in the live tool's steps.
inline constexpr uint32_t kOfflineSliceSamples = 512;
inline constexpr size_t kOfflineSliceBytes = size_t{2} * kOfflineSliceSamples;

struct OfflineSlicer {
    RunSlicer slicer;
    RunLog batch;         // the runs of the latest slice, in entries[1 .. count - 1]
    SharedStatus status;  // the batch's stop request; a slice never fills the batch
    std::array<int32_t, 1 + kOfflineSliceSamples> entries{};
};

// Slices up to kOfflineSliceSamples samples (`byteCount` bytes of signed 16-bit little-endian
// samples; an odd last byte is ignored). Returns how many runs ended, now in entries[1 .. n].
int32_t SliceStretch(OfflineSlicer& offline, const uint8_t* bytes, uint32_t byteCount);

// Slices `count` bytes in slices of kOfflineSliceSamples and calls onRun(length) for every run that
// ends, in order. Calls with consecutive stretches of a stream continue one another.
template <typename OnRun>
void SliceOffline(OfflineSlicer& offline, const uint8_t* bytes, size_t count, OnRun&& onRun) {
    for (size_t at = 0; at < count; at += kOfflineSliceBytes) {
        const size_t piece = count - at < kOfflineSliceBytes ? count - at : kOfflineSliceBytes;
        const int32_t runs = SliceStretch(offline, bytes + at, static_cast<uint32_t>(piece));
        for (int32_t i = 1; i <= runs; ++i) onRun(offline.entries[static_cast<size_t>(i)]);
    }
}

// The entries `vorlank L` would store for these samples, had capture begun at the first sample and
// had its log room for every run: log mode's own storing rule, so a leading High run is left out.
std::vector<int32_t> LoggedRuns(const uint8_t* bytes, size_t count);
