// The wave-input interface that the capture stream is written against: the subset of the Windows
// multimedia (winmm) wave-input API it needs, with winmm's names, records and messages.
//
// One implementation per platform, chosen by CMake:
//   wave_in_win.cpp   Windows: the real winmm. winmm forbids calling wave functions from inside
//                     its callback, so the driver signals an event and a thread of ours runs the
//                     completion routine; there it may hand the buffer back with waveInAddBuffer.
//   wave_in_alsa.cpp  Linux: the same calls over ALSA on the "default" capture device.
//   wave_in_fake.cpp  Tests: buffers of chosen byte counts delivered from a thread of the test's.
//
// Contract shared by every implementation:
//   - waveInOpen accepts only CALLBACK_FUNCTION; the routine gets WIM_OPEN, then one WIM_DATA per
//     filled buffer, one at a time, on one thread that is not the caller's, in queue order, with
//     dwBytesRecorded telling how many bytes of lpData hold samples; WIM_CLOSE comes last.
//   - waveInAddBuffer may be called from inside the routine.
//   - waveInStop waits for a routine that is running to return (unless called from inside it);
//     once waveInStop has returned, no more sound is put into the queued buffers.
//   - buffers still queued come back, as winmm does it, through one more WIM_DATA each (possibly
//     partly filled or empty) on the routine's thread, after waveInReset or within waveInClose.
//   - once waveInClose has returned, the routine is never called again.
//
// Promises of the real layers (winmm, ALSA) about an input that comes late, goes away or falls
// behind. The device is the system's default input, named DEVICE in the lines below ("default");
// every line goes to stderr, once per event, and standard output is never touched:
//   - late device: waveInOpen succeeds although the device cannot be opened yet, after one line
//       vorlank: cannot open audio input "DEVICE": REASON
//     and the layer tries again about once a second without another word (a device that opens
//     but refuses the format is reported once the same way). When it opens, buffers fill from
//     then on, after one line
//       vorlank: audio input "DEVICE" is open; capture has started
//   - lost device: when capture fails for good (the device pulled, the sound server gone; under
//     winmm, no buffer completed for about a second), one line
//       vorlank: audio input "DEVICE" is gone (REASON); waiting for it to come back
//     then what is left of the device is closed, it is reopened about once a second, and once
//     it is back buffers fill again (the one that was filling goes on where it stopped), after
//       vorlank: audio input "DEVICE" is back; capture has resumed
//     A suspended and resumed device simply goes on.
//   - no silent loss: whenever samples are dropped between the device and the routine (an
//     overrun, the driver out of queued buffers, a stall of the whole process), one line
//       vorlank: audio input overrun, about N samples lost
//     counted from what the driver reports or, where it reports nothing, from the samples that
//     arrived against the clock (capture/arrival_clock.h: a device clock up to 0.5 % off the
//     system's is no loss; a gap over about 100 ms is reported).
//   - bounded stop: waveInStop, waveInReset and waveInClose return within a fraction of a second
//     in every state, also while an open or close hangs in the sound system (such a call is left
//     to finish on a thread of the layer's own, which then releases what it got and ends).
//   - nothing is allocated per buffer, across reconnects too (a reconnect itself may allocate
//     inside the sound system's libraries, and frees it again); while the device is away the
//     layer sleeps between attempts.
//   Where the layers differ: winmm reports no overruns, so the Windows layer always counts loss
//   against the clock, and takes a device that finishes no block for 1 s (5 s right after a
//   start, since a driver's first block may take that long) for lost, with the REASON "no sound
//   for 1 s" (or 5 s). Its waveInOpen waits up to about a second for the first attempt, so that
//   a device that is there records from the start; ALSA's waveInOpen returns at once and opens
//   on its own thread.
#pragma once

#include <cstdint>

#ifdef _WIN32
#include <windows.h>

#include <mmsystem.h>  // needs <windows.h> before it
#endif

namespace wave {

#ifdef _WIN32

using ::DWORD;
using ::DWORD_PTR;
using ::HWAVEIN;
using ::MMRESULT;
using ::UINT;
using ::WAVEFORMATEX;
using ::WAVEHDR;
using ::WORD;

#else

using WORD = uint16_t;
using DWORD = uint32_t;
using UINT = uint32_t;
using DWORD_PTR = uintptr_t;
using MMRESULT = uint32_t;

struct WaveInDevice;  // private to each implementation
using HWAVEIN = WaveInDevice*;

struct WAVEFORMATEX {
    WORD wFormatTag;
    WORD nChannels;
    DWORD nSamplesPerSec;
    DWORD nAvgBytesPerSec;
    WORD nBlockAlign;
    WORD wBitsPerSample;
    WORD cbSize;
};

struct WAVEHDR {
    char* lpData;
    DWORD dwBufferLength;
    DWORD dwBytesRecorded;
    DWORD_PTR dwUser;
    DWORD dwFlags;
    DWORD dwLoops;
    WAVEHDR* lpNext;
    DWORD_PTR reserved;
};

inline constexpr UINT WAVE_MAPPER = 0xFFFFFFFFu;
inline constexpr WORD WAVE_FORMAT_PCM = 1;
inline constexpr DWORD CALLBACK_FUNCTION = 0x00030000u;
inline constexpr UINT WIM_OPEN = 0x3BE;
inline constexpr UINT WIM_CLOSE = 0x3BF;
inline constexpr UINT WIM_DATA = 0x3C0;
inline constexpr DWORD WHDR_DONE = 0x00000001u;
inline constexpr DWORD WHDR_PREPARED = 0x00000002u;
inline constexpr DWORD WHDR_INQUEUE = 0x00000010u;
inline constexpr MMRESULT MMSYSERR_NOERROR = 0;
inline constexpr MMRESULT MMSYSERR_ERROR = 1;
inline constexpr MMRESULT MMSYSERR_BADDEVICEID = 2;
inline constexpr MMRESULT MMSYSERR_INVALHANDLE = 5;
inline constexpr MMRESULT MMSYSERR_NODRIVER = 6;
inline constexpr MMRESULT MMSYSERR_NOMEM = 7;
inline constexpr MMRESULT MMSYSERR_INVALPARAM = 11;
inline constexpr MMRESULT WAVERR_BADFORMAT = 32;
inline constexpr MMRESULT WAVERR_STILLPLAYING = 33;
inline constexpr MMRESULT WAVERR_UNPREPARED = 34;

#endif

// Signature of the completion routine given to waveInOpen as its callback.
using WaveInProc = void (*)(HWAVEIN device, UINT message, DWORD_PTR instance, DWORD_PTR param1,
                            DWORD_PTR param2);

MMRESULT waveInOpen(HWAVEIN* device, UINT deviceId, const WAVEFORMATEX* format, DWORD_PTR callback,
                    DWORD_PTR instance, DWORD flags);
MMRESULT waveInPrepareHeader(HWAVEIN device, WAVEHDR* header, UINT headerSize);
MMRESULT waveInUnprepareHeader(HWAVEIN device, WAVEHDR* header, UINT headerSize);
MMRESULT waveInAddBuffer(HWAVEIN device, WAVEHDR* header, UINT headerSize);
MMRESULT waveInStart(HWAVEIN device);
MMRESULT waveInStop(HWAVEIN device);
MMRESULT waveInReset(HWAVEIN device);
MMRESULT waveInClose(HWAVEIN device);

}  // namespace wave
