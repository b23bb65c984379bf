// A winmm of the tests' own, for the wave-input layer's handling of devices that come late, go
// away, drop sound or hang in their open: it defines winmm's wave-input functions itself, and a
// test build of capture/wave_in_win.cpp (compiled with _WINMM_, so that its winmm calls are
// plain calls rather than imports from winmm.dll) links against it instead of winmm.
//
// One device at a time, opened with CALLBACK_EVENT only, as the layer opens it. Once started it
// records a ramp (sample n = 7 n mod 2^16, n counting every sample the device has made since it
// opened, delivered or not) in real time on a thread of its own: every few milliseconds it fills
// the queued headers in order, marks each full one done and sets the event. Sound that finds no
// header queued is dropped, as winmm drops it.
//
// The test steers it through the FakeWinmm record and reads its counters there; all fields are
// atomics, set and read from any thread.
#pragma once

#include <atomic>
#include <cstdint>

struct FakeWinmm {
    // Steering.
    std::atomic<int> opensToFail{0};     // so many of the next opens fail with MMSYSERR_BADDEVICEID
    std::atomic<bool> holdOpens{false};  // an open waits in the driver until this is cleared
    std::atomic<bool> silent{false};     // an open device makes no sound: it has gone away
    std::atomic<int> skipMs{0};          // the device drops this much sound once, then goes on

    // Counters.
    std::atomic<int> opensTried{0};
    std::atomic<int> opensInProgress{0};
    std::atomic<int> opensSucceeded{0};
    std::atomic<int> closes{0};
    std::atomic<uint64_t> samplesDropped{0};  // skipped, or found no header queued
};

// The one instance: winmm's functions take no context of the caller's, so neither can the fake's.
FakeWinmm& TheFakeWinmm();

// Back to a fresh fake: nothing to fail, hold or skip; counters at zero. No device may be open.
void ResetFakeWinmm();

// The text the fake's waveInGetErrorTextA gives for MMSYSERR_BADDEVICEID.
inline constexpr const char* kFakeNoDeviceText = "Fake: no such device.";
