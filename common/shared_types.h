// Types shared by every part of Vorlank: the operating mode, the runs that the slicer cuts the
// signal into, the run log of log mode, and the status words that cross threads.
//
// Threads: the main thread, the audio completion thread and the console-stop thread all touch a
// SharedStatus. Each word is a single 32-bit atomic, read and written whole with relaxed order;
// no reader relies on an order between two words, so no lock and no fence is needed. The one
// exception is the run log's `count`, which also tells the journal writer (main thread) which
// `entries` are complete: it is published with release order and read there with acquire order.
#pragma once

#include <atomic>
#include <cstdint>

enum class Mode : int32_t {
    Test = 0,  // decode frames and show frame rate, errors and Pos1
    Log = 1,   // store raw run lengths and write them to a file
};

enum class RunLevel : int32_t {
    Low = 0,
    High = 1,
};

// One maximal stretch of samples on the same side of the slicer's threshold.
struct Run {
    int32_t length;  // samples at 44 100 Hz, at least 1
    RunLevel level;
};

// Relaxed loads and stores are all any word needs; this keeps the call sites short.
inline int32_t Load(const std::atomic<int32_t>& word) {
    return word.load(std::memory_order_relaxed);
}
inline void Store(std::atomic<int32_t>& word, int32_t value) {
    word.store(value, std::memory_order_relaxed);
}

// For a count that guards the array slots below it: the writer fills the slots, then publishes
// the new count with release order; a reader that loads the count with acquire order sees every
// slot below it complete. No fence either way: on x86 both are plain moves, on ARMv8 its
// load-acquire and store-release instructions.
inline void Publish(std::atomic<int32_t>& word, int32_t value) {
    word.store(value, std::memory_order_release);
}
inline int32_t LoadPublished(const std::atomic<int32_t>& word) {
    return word.load(std::memory_order_acquire);
}

// Adds one to a counter that only its writing thread changes. The counters run for as long as
// the tool does, so the addition wraps (two's complement, as unsigned arithmetic defines it)
// instead of overflowing a signed value.
inline void Increment(std::atomic<int32_t>& word) {
    Store(word, static_cast<int32_t>(static_cast<uint32_t>(Load(word)) + 1u));
}

static_assert(std::atomic<int32_t>::is_always_lock_free,
              "status words are shared with the audio thread and must never take a lock");

// The record of log mode. The audio thread fills `entries[count]`, then publishes `count + 1`
// (Publish). The main thread reads `count` live for the status line (any order will do) and for
// the journal (LoadPublished, then only the entries below it), and reads the whole array once
// capture has stopped.
struct RunLog {
    const char* path = nullptr;     // the file name as given on the command line
    int32_t capacity = 0;           // number of entries, 0 .. 2^30 - 1
    int32_t* entries = nullptr;     // `capacity` run lengths in samples; even entries Low, odd High
    std::atomic<int32_t> count{0};  // entries stored so far, 0 .. capacity; see Publish
};

// The words that cross threads, all zero at start.
struct SharedStatus {
    std::atomic<int32_t> stopRequested{0};  // 1 = leave the status loop; only ever set to 1
    std::atomic<int32_t> capturing{0};      // 1 = hand filled buffers back to the device
    std::atomic<int32_t> pcmFrames{0};      // frames completed
    std::atomic<int32_t> pcmErrors{0};      // bad headers and invalid code words
    std::atomic<int32_t> pos1{0};           // last position value, 0 .. 1023
};
