// Capture stream: the only code that talks to the audio input. It opens the default wave-input
// device for one channel of signed 16-bit samples at 44 100 Hz, keeps two 1024-byte buffers in
// rotation and hands every filled buffer to the run slicer.
//
//   Start: capturing <- 1; open; for buffer 0 then 1: allocate, prepare, queue; start recording.
//   each filled buffer (ProcessBuffer, on the device's thread): slice it; queue it again while
//          capturing is set, otherwise keep it.
//   Stop:  capturing <- 0; wait 100 ms; stop; reset until both buffers are back with us; for
//          buffer 0 then 1: unprepare, free block, free header; close.
//
// Failures of the wave-input calls are not reported from here: a device that cannot be opened
// simply never completes a buffer, and the tool runs on with zero counters until it is stopped
// (the platform layer says why on stderr). Nothing is asked of a device that did not open. An
// input that comes late or goes away and back is the platform layer's business (wave_in.h): the
// buffers stay queued meanwhile, and the stream goes on as if nothing had happened.
//
// Threads: Start and Stop run on the main thread, once each per run of the tool. ProcessBuffer
// runs on the device's completion thread, one buffer at a time; the slicer and its consumers run
// inside it. Once Stop has returned no completion runs and no buffer is in the device's hands.
#pragma once

#include <atomic>
#include <cstdint>

#include "capture/wave_in.h"
#include "common/shared_types.h"
#include "decode/run_slicer.h"

// 512 samples of 16 bits: about 11.6 ms of sound per buffer at 44 100 Hz.
inline constexpr uint32_t CaptureBufferBytes = 1024;

struct CaptureStream {
    wave::HWAVEIN handle{};       // the open device; stays null when it could not be opened
    wave::WAVEFORMATEX format{};  // PCM, mono, 44 100 Hz, 16 bits
    wave::WAVEHDR* buffers[2] = {nullptr,
                                 nullptr};  // header i has dwUser = i and owns a 1024-byte block
    // Buffers that the device holds or a completion is still working on: counted up just before a
    // buffer is queued, down when a completion is done with a buffer it does not queue again.
    // Stop frees the buffers only once this is back at zero.
    std::atomic<int32_t> buffersOut{0};
    RunSlicer* slicer = nullptr;     // receives every filled buffer
    SharedStatus* status = nullptr;  // owner of the `capturing` word
};

// `stream.slicer` and `stream.status` must be set; both must outlive Stop.
void Start(CaptureStream& stream);
void Stop(CaptureStream& stream);

// The completion routine given to waveInOpen. `instance` is the CaptureStream's address (passing
// the record this way keeps it out of any global); `param1` is the filled WAVEHDR for WIM_DATA.
void ProcessBuffer(wave::HWAVEIN device, wave::UINT message, wave::DWORD_PTR instance,
                   wave::DWORD_PTR param1, wave::DWORD_PTR param2);
