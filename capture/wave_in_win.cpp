// Windows implementation of the wave-input interface, over the real winmm.
//
// Two things keep the caller's headers away from the driver:
//
// 1. winmm's documentation forbids calling wave functions from inside a CALLBACK_FUNCTION
//    routine ("Calling other wave functions will cause deadlock"), yet the capture stream hands
//    every buffer back with waveInAddBuffer from inside its completion routine. So the device is
//    opened with CALLBACK_EVENT: the driver only signals an auto-reset event, and a worker thread
//    of ours runs the caller's routine, where calling waveInAddBuffer is allowed.
//
// 2. Two caller buffers of 1024 bytes hold only 23 ms of sound, and a driver may hand over more
//    than that in one go: wine's winmm fills headers in passes of up to 30 ms and only reports
//    them at the end of a pass, so a caller whose two headers go straight to the driver loses
//    about one sample in twelve there, however fast it re-queues. The driver therefore records
//    into a deeper ring of blocks of our own (kBlocks x kBlockBytes, about 93 ms at 44.1 kHz
//    mono 16-bit), and the worker copies each finished block, in order, into the caller's queued
//    headers. A caller header is handed to the routine (WIM_DATA) as soon as it is full; a short
//    late completion of the caller now only delays sound instead of dropping it.
//
// The handle given to the caller is the address of a WinWaveIn record of ours (an opaque token,
// never dereferenced as a winmm handle), so two devices never share state.
//
// Stopping: waveInStop, waveInReset and waveInClose first close the gate on filling and wait for
// a routine that is running to return, and only then stop the device. After waveInStop the
// caller's headers stay queued and no sound moves into them; waveInReset and waveInClose give
// them back as winmm does, each through one more WIM_DATA on the worker, as it is (partly filled
// or empty). waveInClose completes those, sends WIM_CLOSE and ends the worker before it returns,
// so the routine never runs after that; it must not be called from inside the routine.
#include <cstring>

#include "capture/wave_in.h"

namespace wave {
namespace {

// The driver's ring: 8 blocks of 1024 bytes. Each finished block is copied out and re-queued at
// once, so the caller may fall up to about 93 ms behind (at 88 200 bytes/s) before sound is lost.
constexpr unsigned kBlocks = 8;
constexpr DWORD kBlockBytes = 1024;

// More headers than any caller queues at once; the capture stream rotates two. A fixed ring keeps
// waveInAddBuffer, which runs once per buffer on the completion thread, free of allocation.
constexpr unsigned kQueueCapacity = 16;

struct Block {
    WAVEHDR header{};
    DWORD consumed = 0;  // bytes of header.dwBytesRecorded already copied to caller headers
    char data[kBlockBytes];
};

struct WinWaveIn {
    ::HWAVEIN device = nullptr;
    WaveInProc routine = nullptr;
    DWORD_PTR instance = 0;
    WORD blockAlign = 1;  // bytes per sample frame; caller headers are filled in whole frames
    HANDLE wakeEvent = nullptr;  // auto-reset; set by winmm (open, close, each finished block)
                                 // and by waveInAddBuffer
    HANDLE quitEvent = nullptr;  // manual-reset; set by waveInClose to end the worker
    HANDLE worker = nullptr;

    // Guards everything below it. Never held while the routine runs.
    CRITICAL_SECTION lock;
    Block blocks[kBlocks];
    unsigned oldestBlock = 0;   // the block the driver finishes next; they finish in ring order
    bool blocksQueued = false;  // all blocks handed to the driver since the last reset
    WAVEHDR* queue[kQueueCapacity] = {};  // the caller's headers, oldest first
    unsigned head = 0;
    unsigned size = 0;
    unsigned givenBack = 0;  // the oldest `givenBack` of them are to be completed as they are
    bool filling = false;    // the gate: sound moves into the caller's headers only while set

    // Held by the worker while it fills headers and runs the routine, so stopping can wait for it.
    CRITICAL_SECTION routineLock;
};

WinWaveIn* FromHandle(HWAVEIN handle) {
    return reinterpret_cast<WinWaveIn*>(handle);
}
HWAVEIN ToHandle(WinWaveIn& in) {
    return reinterpret_cast<HWAVEIN>(&in);
}

bool IsDone(const WAVEHDR& header) {
    // winmm's thread writes dwFlags; the event wait orders it, the volatile read makes us see it.
    return (*static_cast<const volatile DWORD*>(&header.dwFlags) & WHDR_DONE) != 0;
}

// Bytes of a caller header that take samples: whole frames only, as winmm itself does.
DWORD UsableBytes(const WinWaveIn& in, const WAVEHDR& header) {
    return header.dwBufferLength - header.dwBufferLength % in.blockAlign;
}

// Requires `lock`. Takes the oldest caller header out of the queue, done, for its WIM_DATA.
WAVEHDR* PopCallerHeader(WinWaveIn& in) {
    WAVEHDR* header = in.queue[in.head];
    in.head = (in.head + 1) % kQueueCapacity;
    --in.size;
    header->dwFlags = (header->dwFlags & ~WHDR_INQUEUE) | WHDR_DONE;
    return header;
}

// Requires `lock`. Gives every block to the driver, oldest first; they come back in this order.
void QueueAllBlocks(WinWaveIn& in) {
    for (Block& block : in.blocks) {
        block.consumed = 0;
        ::waveInAddBuffer(in.device, &block.header, sizeof(WAVEHDR));
    }
    in.oldestBlock = 0;
    in.blocksQueued = true;
}

// Requires `lock`. Moves finished sound from the driver's blocks into the caller's headers until
// a caller header is full (returned, to be delivered), or nothing more can move (nullptr).
WAVEHDR* FillCallerHeader(WinWaveIn& in) {
    while (in.filling) {
        Block& block = in.blocks[in.oldestBlock];
        if (!IsDone(block.header)) return nullptr;
        if (block.consumed == block.header.dwBytesRecorded) {
            block.consumed = 0;
            ::waveInAddBuffer(in.device, &block.header, sizeof(WAVEHDR));
            in.oldestBlock = (in.oldestBlock + 1) % kBlocks;
            continue;
        }
        if (in.size == 0) return nullptr;  // the sound waits in the block for a caller header
        WAVEHDR& target = *in.queue[in.head];
        DWORD room = UsableBytes(in, target) - target.dwBytesRecorded;
        DWORD count = block.header.dwBytesRecorded - block.consumed;
        if (count > room) count = room;
        std::memcpy(target.lpData + target.dwBytesRecorded, block.data + block.consumed, count);
        target.dwBytesRecorded += count;
        block.consumed += count;
        if (target.dwBytesRecorded == UsableBytes(in, target)) return PopCallerHeader(in);
    }
    return nullptr;
}

// Requires `lock`. The next caller header to complete: given-back ones first, as they are.
WAVEHDR* NextCompletion(WinWaveIn& in) {
    if (in.givenBack > 0) {
        --in.givenBack;
        return PopCallerHeader(in);
    }
    return FillCallerHeader(in);
}

void CompleteAll(WinWaveIn& in) {
    EnterCriticalSection(&in.routineLock);
    for (;;) {
        EnterCriticalSection(&in.lock);
        WAVEHDR* done = NextCompletion(in);
        LeaveCriticalSection(&in.lock);
        if (done == nullptr) break;
        in.routine(ToHandle(in), WIM_DATA, in.instance, reinterpret_cast<DWORD_PTR>(done), 0);
    }
    LeaveCriticalSection(&in.routineLock);
}

DWORD WINAPI WorkerMain(void* param) {
    WinWaveIn& in = *static_cast<WinWaveIn*>(param);
    in.routine(ToHandle(in), WIM_OPEN, in.instance, 0, 0);
    const HANDLE waits[2] = {in.quitEvent, in.wakeEvent};
    // One wake-up may stand for several finished blocks (the event does not count), so each
    // wake-up completes all it can. The quit event comes first so that it wins when both are set;
    // what waveInClose gave back is still completed before WIM_CLOSE.
    while (WaitForMultipleObjects(2, waits, FALSE, INFINITE) == WAIT_OBJECT_0 + 1) {
        CompleteAll(in);
    }
    CompleteAll(in);
    in.routine(ToHandle(in), WIM_CLOSE, in.instance, 0, 0);
    return 0;
}

// Closes the gate and waits until the worker has left the routine. Called from the routine
// itself it does not wait (the lock is re-entrant), and nothing else is running then.
void CloseGate(WinWaveIn& in) {
    EnterCriticalSection(&in.lock);
    in.filling = false;
    LeaveCriticalSection(&in.lock);
    EnterCriticalSection(&in.routineLock);
    LeaveCriticalSection(&in.routineLock);
}

// Stops the driver, takes every block back from it and gives every queued caller header back
// through the worker. Requires a closed gate.
MMRESULT ResetAll(WinWaveIn& in) {
    MMRESULT result = ::waveInReset(in.device);
    EnterCriticalSection(&in.lock);
    in.blocksQueued = false;
    in.givenBack = in.size;
    LeaveCriticalSection(&in.lock);
    SetEvent(in.wakeEvent);
    return result;
}

void Destroy(WinWaveIn* in) {
    if (in->quitEvent) CloseHandle(in->quitEvent);
    if (in->wakeEvent) CloseHandle(in->wakeEvent);
    DeleteCriticalSection(&in->routineLock);
    DeleteCriticalSection(&in->lock);
    delete in;
}

}  // namespace

MMRESULT waveInOpen(HWAVEIN* device, UINT deviceId, const WAVEFORMATEX* format, DWORD_PTR callback,
                    DWORD_PTR instance, DWORD flags) {
    if (device == nullptr || format == nullptr || callback == 0 || flags != CALLBACK_FUNCTION ||
        format->nBlockAlign == 0 || kBlockBytes % format->nBlockAlign != 0) {
        return MMSYSERR_INVALPARAM;
    }
    auto* in = new WinWaveIn;
    InitializeCriticalSection(&in->lock);
    InitializeCriticalSection(&in->routineLock);
    in->routine = reinterpret_cast<WaveInProc>(callback);
    in->instance = instance;
    in->blockAlign = format->nBlockAlign;
    in->wakeEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    in->quitEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (in->wakeEvent == nullptr || in->quitEvent == nullptr) {
        Destroy(in);
        return MMSYSERR_NOMEM;
    }
    MMRESULT result = ::waveInOpen(&in->device, deviceId, format,
                                   reinterpret_cast<DWORD_PTR>(in->wakeEvent), 0, CALLBACK_EVENT);
    if (result != MMSYSERR_NOERROR) {
        Destroy(in);
        return result;
    }
    for (Block& block : in->blocks) {
        block.header.lpData = block.data;
        block.header.dwBufferLength = kBlockBytes;
        ::waveInPrepareHeader(in->device, &block.header, sizeof(WAVEHDR));
    }
    in->worker = CreateThread(nullptr, 0, WorkerMain, in, 0, nullptr);
    if (in->worker == nullptr) {
        for (Block& block : in->blocks)
            ::waveInUnprepareHeader(in->device, &block.header, sizeof(WAVEHDR));
        ::waveInClose(in->device);
        Destroy(in);
        return MMSYSERR_NOMEM;
    }
    *device = ToHandle(*in);
    return MMSYSERR_NOERROR;
}

// The caller's headers never reach the driver, so preparing one only checks it and marks it.
MMRESULT waveInPrepareHeader(HWAVEIN device, WAVEHDR* header, UINT headerSize) {
    if (device == nullptr) return MMSYSERR_INVALHANDLE;
    if (header == nullptr || headerSize < sizeof(WAVEHDR) || header->lpData == nullptr ||
        UsableBytes(*FromHandle(device), *header) == 0) {
        return MMSYSERR_INVALPARAM;
    }
    header->dwFlags |= WHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT waveInUnprepareHeader(HWAVEIN device, WAVEHDR* header, UINT headerSize) {
    if (device == nullptr) return MMSYSERR_INVALHANDLE;
    WinWaveIn& in = *FromHandle(device);
    if (header == nullptr || headerSize < sizeof(WAVEHDR)) return MMSYSERR_INVALPARAM;
    EnterCriticalSection(&in.lock);
    MMRESULT result = MMSYSERR_NOERROR;
    if (header->dwFlags & WHDR_INQUEUE) {
        result = WAVERR_STILLPLAYING;
    } else {
        header->dwFlags &= ~WHDR_PREPARED;
    }
    LeaveCriticalSection(&in.lock);
    return result;
}

MMRESULT waveInAddBuffer(HWAVEIN device, WAVEHDR* header, UINT headerSize) {
    if (device == nullptr) return MMSYSERR_INVALHANDLE;
    WinWaveIn& in = *FromHandle(device);
    if (header == nullptr || headerSize < sizeof(WAVEHDR)) return MMSYSERR_INVALPARAM;
    EnterCriticalSection(&in.lock);
    MMRESULT result = MMSYSERR_NOERROR;
    if (!(header->dwFlags & WHDR_PREPARED)) {
        result = WAVERR_UNPREPARED;
    } else if (header->dwFlags & WHDR_INQUEUE) {
        result = WAVERR_STILLPLAYING;
    } else if (in.size == kQueueCapacity) {
        result = MMSYSERR_NOMEM;
    } else {
        header->dwFlags = (header->dwFlags & ~WHDR_DONE) | WHDR_INQUEUE;
        header->dwBytesRecorded = 0;
        in.queue[(in.head + in.size) % kQueueCapacity] = header;
        ++in.size;
    }
    LeaveCriticalSection(&in.lock);
    // Sound may be waiting in a finished block for exactly this header.
    if (result == MMSYSERR_NOERROR) SetEvent(in.wakeEvent);
    return result;
}

MMRESULT waveInStart(HWAVEIN device) {
    if (device == nullptr) return MMSYSERR_INVALHANDLE;
    WinWaveIn& in = *FromHandle(device);
    EnterCriticalSection(&in.lock);
    if (!in.blocksQueued) QueueAllBlocks(in);
    in.filling = true;
    LeaveCriticalSection(&in.lock);
    SetEvent(in.wakeEvent);
    return ::waveInStart(in.device);
}

MMRESULT waveInStop(HWAVEIN device) {
    if (device == nullptr) return MMSYSERR_INVALHANDLE;
    WinWaveIn& in = *FromHandle(device);
    CloseGate(in);
    return ::waveInStop(in.device);
}

MMRESULT waveInReset(HWAVEIN device) {
    if (device == nullptr) return MMSYSERR_INVALHANDLE;
    WinWaveIn& in = *FromHandle(device);
    CloseGate(in);
    return ResetAll(in);
}

MMRESULT waveInClose(HWAVEIN device) {
    if (device == nullptr) return MMSYSERR_INVALHANDLE;
    WinWaveIn* in = FromHandle(device);
    CloseGate(*in);
    ResetAll(*in);
    for (Block& block : in->blocks)
        ::waveInUnprepareHeader(in->device, &block.header, sizeof(WAVEHDR));
    MMRESULT result = ::waveInClose(in->device);
    SetEvent(in->quitEvent);
    WaitForSingleObject(in->worker, INFINITE);
    CloseHandle(in->worker);
    Destroy(in);
    return result;
}

}  // namespace wave
