// winmm's wave-input calls, records and messages over the real winmm, for sound_input_win.cpp,
// with winmm's contract (CALLBACK_FUNCTION only; the routine gets WIM_OPEN, one WIM_DATA per
// buffer in queue order on a thread of the layer's, WIM_CLOSE last, and may call waveInAddBuffer;
// reset and close give queued buffers back through WIM_DATA). Beyond winmm, a device that is
// missing or goes away is reopened when it comes, and dropped sound is reported on stderr.
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
