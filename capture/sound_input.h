// Sound input: the only code that talks to the audio system. It captures the system's default
// input as one channel of signed 16-bit samples at 44 100 Hz and hands every filled block of
// samples to the sink the wiring gives it (the run slicer), on a thread of its own.
//
// Threads: StartSoundInput and StopSoundInput run on the main thread, once each per run; the
// sink runs on the input's thread, one block at a time, in the order the samples were recorded.
//
// One implementation per platform, chosen by CMake:
//   sound_input_alsa.cpp  Linux: reads periods of 512 samples from ALSA's "default" capture
//                         device and hands each on as it fills.
//   sound_input_win.cpp   Windows: two 1024-byte winmm buffers in rotation, each handed back to
//                         the device after its samples were taken (over wave_in_win.h).
//
// What the app sees, on every platform:
//   - blocks of at most 1024 bytes (512 samples, about 11.6 ms); nothing is allocated per block,
//     across reconnects too (a reconnect may allocate inside the sound system's libraries, and
//     frees it again).
//   - `capturing` is 1 from StartSoundInput on and 0 from the moment StopSoundInput begins.
//   - StopSoundInput returns within a fraction of a second in every state, also while an open
//     or close hangs in the sound system (such a call is left to finish on a thread of the
//     input's own, which then releases what it got and ends). Once it has returned the sink is
//     never called again.
//   - standard output is never touched. On stderr, once per event, the device named DEVICE
//     ("default"):
//       vorlank: cannot open audio input "DEVICE": REASON
//         the device is not there yet (or opens but refuses the format, reported once the same
//         way); it is tried again about once a second without another word, and when it opens:
//       vorlank: audio input "DEVICE" is open; capture has started
//       vorlank: audio input "DEVICE" is gone (REASON); waiting for it to come back
//         capture failed for good (the device pulled, the sound server gone); what is left of
//         the device is closed and it is reopened about once a second; the block that was
//         filling goes on where it stopped once it is back:
//       vorlank: audio input "DEVICE" is back; capture has resumed
//       vorlank: audio input overrun, about N samples lost
//         samples were dropped between the device and the sink (an overrun, the driver out of
//         queued buffers, a stall of the whole process), counted from what the driver reports
//         or, where it reports nothing, from the samples that arrived against the clock
//         (arrival_clock.h: a device clock up to 0.5 % off the system's is no loss).
//     A suspended and resumed device simply goes on.
//   Where the platforms differ: winmm reports no overruns, so the Windows input always counts
//   loss against the clock, and takes a device that finishes no block for 1 s (5 s right after
//   a start, since a driver's first block may take that long) for gone, with the REASON "no
//   sound for 1 s" (or 5 s). It waits up to about a second in StartSoundInput for the first
//   attempt to open, so that a device that is there records from the start; on Linux
//   StartSoundInput returns at once and the device opens on the input's thread.
#pragma once

#include <atomic>
#include <cstdint>

// Where every filled block goes: `take` gets `context` and `bytes` bytes of signed 16-bit
// little-endian samples, at most kSoundBlockBytes, valid during the call only.
struct SampleSink {
    void (*take)(void* context, const void* samples, uint32_t bytes) = nullptr;
    void* context = nullptr;
};

// 512 samples of 16 bits: about 11.6 ms of sound per block at 44 100 Hz.
inline constexpr uint32_t kSoundBlockBytes = 1024;

struct SoundInputDevice;  // each platform's own record

struct SoundInput {
    // Set before StartSoundInput; both must outlive StopSoundInput.
    SampleSink sink;
    std::atomic<int32_t>* capturing = nullptr;  // the `capturing` status word
    // The platform's record, from StartSoundInput until StopSoundInput.
    SoundInputDevice* device = nullptr;
};

void StartSoundInput(SoundInput& input);
void StopSoundInput(SoundInput& input);
