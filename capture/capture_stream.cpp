#include "capture/capture_stream.h"

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <thread>

#include "common/signal_format.h"

#ifndef _WIN32
#include <cstdlib>
#endif

// On Windows the constants below are macros of <mmsystem.h>; elsewhere they live in `wave`.
using namespace wave;

namespace {

constexpr DWORD kSampleRate = kSampleRateHz;
constexpr WORD kChannels = 1;
constexpr WORD kBitsPerSample = 16;
constexpr WORD kBlockAlign = kChannels * kBitsPerSample / 8;

// Longer than the 23.2 ms in which the device fills and returns both queued buffers, so that
// normally no buffer is queued any more when the device is stopped.
constexpr auto kDrainWait = std::chrono::milliseconds(100);
// How long Stop keeps asking the device for buffers it still holds. A device that has not
// returned them by then is broken; its buffers are then left allocated rather than freed under it.
constexpr auto kReturnPoll = std::chrono::milliseconds(5);
constexpr int kReturnPolls = 400;

// Capture memory comes from the process heap on Windows, from the C heap elsewhere; both blocks
// are zero-filled so a header starts with no flags set.
void* AllocZeroed(size_t bytes) {
#ifdef _WIN32
    return HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, bytes);
#else
    return std::calloc(1, bytes);
#endif
}

void Release(void* block) {
#ifdef _WIN32
    if (block != nullptr) HeapFree(GetProcessHeap(), 0, block);
#else
    std::free(block);
#endif
}

// Hands a buffer that is already counted in buffersOut to the device; a buffer the device refuses
// stays with us and is no longer counted.
void Requeue(CaptureStream& stream, HWAVEIN device, WAVEHDR* header) {
    if (wave::waveInAddBuffer(device, header, sizeof(WAVEHDR)) != MMSYSERR_NOERROR) {
        stream.buffersOut.fetch_sub(1, std::memory_order_release);
    }
}

WAVEHDR* AllocBuffer(DWORD_PTR index) {
    auto* header = static_cast<WAVEHDR*>(AllocZeroed(sizeof(WAVEHDR)));
    auto* data = static_cast<char*>(AllocZeroed(CaptureBufferBytes));
    if (header == nullptr || data == nullptr) {
        Release(data);
        Release(header);
        return nullptr;
    }
    header->lpData = data;
    header->dwBufferLength = CaptureBufferBytes;
    header->dwUser = index;
    return header;
}

// Resets the device until every buffer it held has come back through a completion. Resetting
// more than once matters: a completion that read `capturing` just before Stop cleared it may
// queue its buffer again after the first reset.
bool WaitForBuffers(CaptureStream& stream) {
    for (int poll = 0; poll < kReturnPolls; ++poll) {
        wave::waveInReset(stream.handle);
        if (stream.buffersOut.load(std::memory_order_acquire) == 0) return true;
        std::this_thread::sleep_for(kReturnPoll);
    }
    return stream.buffersOut.load(std::memory_order_acquire) == 0;
}

}  // namespace

void Start(CaptureStream& stream) {
    Store(stream.status->capturing, 1);

    stream.format = {};
    stream.format.wFormatTag = WAVE_FORMAT_PCM;
    stream.format.nChannels = kChannels;
    stream.format.nSamplesPerSec = kSampleRate;
    stream.format.nAvgBytesPerSec = kSampleRate * kBlockAlign;
    stream.format.nBlockAlign = kBlockAlign;
    stream.format.wBitsPerSample = kBitsPerSample;
    stream.format.cbSize = 0;

    if (wave::waveInOpen(&stream.handle, WAVE_MAPPER, &stream.format,
                         reinterpret_cast<DWORD_PTR>(&ProcessBuffer),
                         reinterpret_cast<DWORD_PTR>(&stream),
                         CALLBACK_FUNCTION) != MMSYSERR_NOERROR) {
        stream.handle = {};
    }
    const bool open = stream.handle != HWAVEIN{};

    // The buffers are allocated even without a device, so that Stop releases them the same way.
    for (DWORD_PTR index = 0; index < 2; ++index) {
        WAVEHDR* header = AllocBuffer(index);
        stream.buffers[index] = header;
        if (!open || header == nullptr) continue;
        wave::waveInPrepareHeader(stream.handle, header, sizeof(WAVEHDR));
        // Counted before it is queued: its completion may run before waveInAddBuffer returns.
        stream.buffersOut.fetch_add(1, std::memory_order_relaxed);
        Requeue(stream, stream.handle, header);
    }

    if (open) wave::waveInStart(stream.handle);
}

void Stop(CaptureStream& stream) {
    Store(stream.status->capturing, 0);
    std::this_thread::sleep_for(kDrainWait);
    const bool open = stream.handle != HWAVEIN{};
    if (open) wave::waveInStop(stream.handle);

    if (!open || WaitForBuffers(stream)) {
        for (WAVEHDR*& header : stream.buffers) {
            if (header == nullptr) continue;
            if (open) wave::waveInUnprepareHeader(stream.handle, header, sizeof(WAVEHDR));
            Release(header->lpData);
            Release(header);
            header = nullptr;
        }
    } else {
        std::fprintf(stderr,
                     "vorlank: the audio device did not give back its buffers; "
                     "they are left allocated\n");
    }

    if (open) wave::waveInClose(stream.handle);
    stream.handle = {};
}

void ProcessBuffer(HWAVEIN device, UINT message, DWORD_PTR instance, DWORD_PTR param1, DWORD_PTR) {
    if (message != WIM_DATA) return;
    auto& stream = *reinterpret_cast<CaptureStream*>(instance);
    auto* header = reinterpret_cast<WAVEHDR*>(param1);

    // A sound device never reports more than the buffer holds; the clamp keeps a faulty one from
    // sending the slicer past the end of the block.
    const DWORD bytes = std::min<DWORD>(header->dwBytesRecorded, header->dwBufferLength);
    SliceBuffer(*stream.slicer, header->lpData, bytes);

    if (Load(stream.status->capturing) != 0) {
        Requeue(stream, device, stream.buffers[header->dwUser]);
    } else {
        stream.buffersOut.fetch_sub(1, std::memory_order_release);
    }
}
