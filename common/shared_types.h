// Types every part of Vorlank shares: the mode, the runs the slicer cuts the signal into, the run
// log of log mode, and the status words that cross threads.
// Threads: each status word is one 32-bit atomic, read and written whole with relaxed order (no
// reader relies on an order between two words); only the run log's count is published with
// release order, because the journal reads the entries below it.
#pragma once

#include <atomic>
#include <cstdint>

namespace common {

enum class Mode : int32_t {
    // `T`: decode frames and show frame rate, errors and Pos1.
    Test = 0,
    // `L`: store raw run lengths and write them to a file.
    Log = 1,
};

enum class RunLevel : int32_t {
    Low = 0,
    High = 1,
};

// One maximal stretch of samples on the same side of the slicer's threshold.
struct Run {
    // Samples at 44 100 Hz, at least 1.
    int32_t length;
    RunLevel level;
};

// Relaxed order is all a status word needs; these keep the call sites short.
inline int32_t ReadWord(const std::atomic<int32_t>& word) {
    return word.load(std::memory_order_relaxed);
}
inline void WriteWord(std::atomic<int32_t>& word, int32_t value) {
    word.store(value, std::memory_order_relaxed);
}

// For a count that guards the array slots below it: the writer fills the slots, then publishes
// the new count with release order; a reader that loads the count with acquire order sees every
// slot below it complete. No fence either way: on x86 both are plain moves, on ARMv8 its
// load-acquire and store-release instructions.
inline void PublishCount(std::atomic<int32_t>& count, int32_t value) {
    count.store(value, std::memory_order_release);
}
inline int32_t ReadPublishedCount(const std::atomic<int32_t>& count) {
    return count.load(std::memory_order_acquire);
}

// Adds `amount` to a counter that only its writing thread changes. The counters run for as long
// as the tool does, so the addition wraps (two's complement, as unsigned arithmetic defines it)
// instead of overflowing a signed value.
inline void AddToCounter(std::atomic<int32_t>& counter, uint32_t amount) {
    WriteWord(counter, static_cast<int32_t>(static_cast<uint32_t>(ReadWord(counter)) + amount));
}

static_assert(std::atomic<int32_t>::is_always_lock_free,
              "status words are shared with the audio thread and must never take a lock");

// The record of log mode. The audio thread fills `entries[count]`, then publishes `count + 1`
// (PublishCount). The main thread reads `count` live for the status line (any order will do) and
// for the journal (ReadPublishedCount, then only the entries below it), and reads the whole array
// once capture has stopped.
struct RunLog {
    // The file name as given on the command line.
    const char* path = nullptr;
    // Entries in the array, 0 .. 2^30 - 1.
    int32_t capacity = 0;
    // `capacity` run lengths in samples; even entries Low, odd High.
    int32_t* entries = nullptr;
    // Entries stored so far, 0 .. capacity; see PublishCount.
    std::atomic<int32_t> count{0};
};

// The words that cross threads, all zero at start.
struct SharedStatus {
    // 1 = leave the status loop; only ever set to 1.
    std::atomic<int32_t> stopRequested{0};
    // 1 = hand filled buffers back to the device.
    std::atomic<int32_t> capturing{0};
    // Frames completed.
    std::atomic<int32_t> pcmFrames{0};
    // Bad headers and invalid code words.
    std::atomic<int32_t> pcmErrors{0};
    // The last position value written, 0 .. 1023.
    std::atomic<int32_t> pos1{0};
};

}  // namespace common
