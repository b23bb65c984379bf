// The wave-input functions of the Windows layer (wave_in_win.cpp): winmm's own calls, records and
// messages, over the real winmm, for the capture sequence of sound_input_win.cpp. winmm forbids
// calling wave functions from inside its callback, so the driver signals an event and a thread of
// the layer's runs the completion routine; there it may hand the buffer back with waveInAddBuffer.
//
// Contract, as winmm's:
//   - waveInOpen accepts only CALLBACK_FUNCTION; the routine gets WIM_OPEN, then one WIM_DATA per
//     filled buffer, one at a time, on one thread that is not the caller's, in queue order, with
//     dwBytesRecorded telling how many bytes of lpData hold samples; WIM_CLOSE comes last.
//   - waveInAddBuffer may be called from inside the routine.
//   - waveInStop waits for a routine that is running to return (unless called from inside it);
//     once waveInStop has returned, no more sound is put into the queued buffers.
//   - buffers still queued come back through one more WIM_DATA each (possibly partly filled or
//     empty) on the routine's thread, after waveInReset or within waveInClose.
//   - once waveInClose has returned, the routine is never called again.
// Beyond winmm, the layer keeps the promises of sound_input.h about a device that comes late,
// goes away or drops sound, and about a bounded stop: waveInOpen succeeds without the device
// (after waiting up to about a second for the first attempt) and the layer opens it when it comes.
#pragma once

#include <windows.h>

#include <mmsystem.h>  // needs <windows.h> before it

namespace capture::wave {

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

}  // namespace capture::wave
