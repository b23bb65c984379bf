// The sound input on Windows, over wave_in_win.h: two 1024-byte buffers in rotation, each filled
// buffer's samples handed to the sink and the buffer queued again while capturing is set. A device
// that is missing, comes late or goes away is the layer's business (it says so on stderr); the
// buffers stay queued meanwhile and the sequence goes on as if nothing happened.
#include <algorithm>
#include <cstdio>
#include <utility>

#include "capture/sound_input.h"
#include "capture/wave_in_win.h"
#include "common/shared_types.h"
#include "common/signal_format.h"

namespace capture {

struct SoundInputDevice {
    // The open device; stays null when it could not be opened.
    HWAVEIN handle{};
    // Header i has dwUser = i and owns a 1024-byte block (a Buffer).
    WAVEHDR* buffers[2] = {nullptr, nullptr};
    // Buffers that the device holds or a completion is still working on: counted up just before a
    // buffer is queued, down when a completion is done with a buffer it does not queue again.
    // Once it is zero it stays so, and `allBack` is set.
    std::atomic<int32_t> buffersOut{0};
    // Manual-reset event.
    HANDLE allBack = nullptr;
    SampleSink sink;
    std::atomic<int32_t>* capturing = nullptr;
};

namespace {

// Mono, signed 16-bit samples.
constexpr WORD kBlockAlign = 2;
constexpr WAVEFORMATEX kFormat = {
    .wFormatTag = WAVE_FORMAT_PCM,
    .nChannels = 1,
    .nSamplesPerSec = common::kSampleRateHz,
    .nAvgBytesPerSec = common::kSampleRateHz * kBlockAlign,
    .nBlockAlign = kBlockAlign,
    .wBitsPerSample = 16,
    .cbSize = 0,
};

// Longer than the 23.2 ms in which the device fills and returns both queued buffers, so that
// normally no buffer is queued any more when the device is stopped.
constexpr DWORD kDrainWaitMs = 100;
// How long Stop keeps asking the device for buffers it still holds: a reset, then a wait for
// the last buffer's return, so many times. A device that has not returned them by then is broken;
// its buffers are then left allocated rather than freed under it.
constexpr DWORD kReturnWaitMs = 100;
constexpr int kResets = 20;

// A header done with for now: counted out of buffersOut, and the last one back says so.
void Keep(SoundInputDevice& dev) {
    if (dev.buffersOut.fetch_sub(1, std::memory_order_acq_rel) == 1) SetEvent(dev.allBack);
}

// Hands a buffer that is already counted in buffersOut to the device; a buffer the device refuses
// stays with us.
void Requeue(SoundInputDevice& dev, HWAVEIN device, WAVEHDR* header) {
    if (wave::waveInAddBuffer(device, header, sizeof(WAVEHDR)) != MMSYSERR_NOERROR) Keep(dev);
}

// A header and the block it owns, in one allocation that starts with the header.
struct Buffer {
    WAVEHDR header{};
    char data[kSoundBlockBytes];
};

// A zero-filled buffer from the process heap, so its header starts with no flags set.
WAVEHDR* AllocBuffer(DWORD_PTR index) {
    auto* buffer =
        static_cast<Buffer*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(Buffer)));
    if (buffer == nullptr) return nullptr;
    buffer->header.lpData = buffer->data;
    buffer->header.dwBufferLength = kSoundBlockBytes;
    buffer->header.dwUser = index;
    return &buffer->header;
}

// The completion routine given to waveInOpen; `instance` is the device record's address.
void ProcessBuffer(HWAVEIN device, UINT message, DWORD_PTR instance, DWORD_PTR param1, DWORD_PTR) {
    if (message != WIM_DATA) return;
    auto& dev = *reinterpret_cast<SoundInputDevice*>(instance);
    auto* header = reinterpret_cast<WAVEHDR*>(param1);

    // A sound device never reports more than the buffer holds; the clamp keeps a faulty one from
    // sending the sink past the end of the block.
    const DWORD bytes = std::min<DWORD>(header->dwBytesRecorded, header->dwBufferLength);
    if (bytes > 0) dev.sink.take(dev.sink.context, header->lpData, bytes);

    if (common::ReadWord(*dev.capturing) != 0) {
        Requeue(dev, device, dev.buffers[header->dwUser]);
    } else {
        Keep(dev);
    }
}

// Resets the device until every buffer it held has come back through a completion. Resetting
// more than once matters: a completion that read `capturing` just before Stop cleared it may
// queue its buffer again after the first reset.
bool WaitForBuffers(SoundInputDevice& dev) {
    for (int reset = 0; reset < kResets; ++reset) {
        wave::waveInReset(dev.handle);
        if (WaitForSingleObject(dev.allBack, kReturnWaitMs) == WAIT_OBJECT_0) return true;
    }
    return dev.buffersOut.load(std::memory_order_acquire) == 0;
}

}  // namespace

void StartSoundInput(SoundInput& input) {
    common::WriteWord(*input.capturing, 1);
    auto* dev = new SoundInputDevice;
    dev->sink = input.sink;
    dev->capturing = input.capturing;
    input.device = dev;
    dev->allBack = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (dev->allBack == nullptr) return;

    if (wave::waveInOpen(&dev->handle, WAVE_MAPPER, &kFormat,
                         reinterpret_cast<DWORD_PTR>(&ProcessBuffer),
                         reinterpret_cast<DWORD_PTR>(dev), CALLBACK_FUNCTION) != MMSYSERR_NOERROR) {
        dev->handle = nullptr;
    }
    const bool open = dev->handle != nullptr;

    // The buffers are allocated even without a device, so that Stop releases them the same way.
    for (DWORD_PTR index = 0; index < 2; ++index) {
        WAVEHDR* header = AllocBuffer(index);
        dev->buffers[index] = header;
        if (!open || header == nullptr) continue;
        wave::waveInPrepareHeader(dev->handle, header, sizeof(WAVEHDR));
        // Counted before it is queued: its completion may run before waveInAddBuffer returns.
        dev->buffersOut.fetch_add(1, std::memory_order_relaxed);
        Requeue(*dev, dev->handle, header);
    }

    if (open) wave::waveInStart(dev->handle);
}

void StopSoundInput(SoundInput& input) {
    common::WriteWord(*input.capturing, 0);
    SoundInputDevice* dev = std::exchange(input.device, nullptr);
    if (dev == nullptr) return;
    Sleep(kDrainWaitMs);
    const bool open = dev->handle != nullptr;
    if (open) wave::waveInStop(dev->handle);

    if (!open || WaitForBuffers(*dev)) {
        for (WAVEHDR*& header : dev->buffers) {
            if (header == nullptr) continue;
            if (open) wave::waveInUnprepareHeader(dev->handle, header, sizeof(WAVEHDR));
            // The header's address is its Buffer's.
            HeapFree(GetProcessHeap(), 0, header);
            header = nullptr;
        }
    } else {
        std::fputs(kCaptureTexts.buffersKept, stderr);
    }

    // Once closed, no completion runs any more, so the record can go.
    if (open) wave::waveInClose(dev->handle);
    if (dev->allBack != nullptr) CloseHandle(dev->allBack);
    delete dev;
}

}  // namespace capture
