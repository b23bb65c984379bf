// Sound input: captures the system's default input as one channel of signed 16-bit samples at
// 44 100 Hz and hands every filled block to a sink, on a thread of its own, in recording order.
// StartSoundInput and StopSoundInput run on the main thread, once each. One implementation per
// platform: sound_input_alsa.cpp (ALSA's "default" device), sound_input_win.cpp (winmm).
#pragma once

#include <atomic>
#include <cstdint>

namespace capture {

// Where every filled block goes: `take` gets `context` and `bytes` bytes of signed 16-bit
// little-endian samples, at most kSoundBlockBytes, valid during the call only.
struct SampleSink {
    void (*take)(void* context, const void* samples, uint32_t bytes) = nullptr;
    void* context = nullptr;
};

// 512 samples: about 11.6 ms of sound per block at 44 100 Hz.
inline constexpr uint32_t kSoundBlockBytes = 1024;

// What the sound input says on stderr, once per event; never on standard output. printf formats,
// the first %s the device ("default"); REASON is the sound system's words.
inline constexpr struct CaptureTexts {
    // Device, reason. The device is tried again about once a second, without another word.
    const char* cannotOpen = "vorlank: cannot open audio input \"%s\": %s\n";
    // Device. After a "cannot open".
    const char* opened = "vorlank: audio input \"%s\" is open; capture has started\n";
    // Device, reason. Capture failed for good; the device is reopened about once a second.
    const char* gone = "vorlank: audio input \"%s\" is gone (%s); waiting for it to come back\n";
    // Device. After a "gone"; the block that was filling goes on where it stopped.
    const char* back = "vorlank: audio input \"%s\" is back; capture has resumed\n";
    // Samples dropped between the device and the sink, as the driver or the arrival clock counts.
    const char* overrun = "vorlank: audio input overrun, about %llu samples lost\n";
    // ALSA. Device, channels, rate, reason.
    const char* noFormat =
        "vorlank: audio input \"%s\" does not take %u-channel 16-bit samples at %u Hz: %s\n";
    // ALSA. Device, rate granted, rate wanted.
    const char* wrongRate =
        "vorlank: audio input \"%s\" runs at %u Hz, not %u Hz; nothing is captured\n";
    // ALSA, as perror's prefix: the eventfd that wakes the capture thread cannot be made.
    const char* noWakeup = "vorlank: audio input wake-up descriptor";
    // winmm: the reason of "gone" for a device that finishes no block for 1 s (5 s after a start).
    const char* silent = "no sound for %d s";
    // winmm: a device that never gave back its buffers at the stop.
    const char* buffersKept =
        "vorlank: the audio device did not give back its buffers; they are left allocated\n";
} kCaptureTexts;

struct SoundInputDevice;  // each platform's own record

struct SoundInput {
    // Set before StartSoundInput; must outlive StopSoundInput.
    SampleSink sink;
    // The `capturing` status word: 1 from StartSoundInput on, 0 from the moment StopSoundInput
    // begins.
    std::atomic<int32_t>* capturing = nullptr;
    // The platform's record, from StartSoundInput until StopSoundInput.
    SoundInputDevice* device = nullptr;
};

// Linux returns at once and opens the device on the input's thread; Windows waits up to about a
// second for the first attempt to open, so that a device that is there records from the start.
// A device that is missing, goes away or refuses the format is tried again about once a second.
void StartSoundInput(SoundInput& input);
// Returns within a fraction of a second in every state, also while an open or close hangs in the
// sound system (such a call is left to finish on a thread of its own). The sink is never called
// after it has returned.
void StopSoundInput(SoundInput& input);

}  // namespace capture
