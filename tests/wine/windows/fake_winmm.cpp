#include "tests/wine/windows/fake_winmm.h"

#include <windows.h>

#include <mmsystem.h>  // needs <windows.h> before it

#include <atomic>
#include <cstdio>

namespace {

constexpr DWORD kRateHz = 44100;
constexpr uint16_t kRampStep = 7;
// The device records in steps of this many milliseconds, like a driver's period.
constexpr DWORD kPeriodMs = 3;
constexpr unsigned kQueueCapacity = 32;

// The one device, kept in static storage: opening and closing it allocate nothing, so the tests
// may count the allocations of the layer above it.
struct FakeDevice {
    bool open = false;
    bool closing = false;    // the producer is to end
    bool recording = false;  // between waveInStart and waveInStop or waveInReset
    HANDLE event = nullptr;  // the layer's CALLBACK_EVENT
    HANDLE producer = nullptr;
    LARGE_INTEGER startedAt{};    // when recording last started
    uint64_t madeSinceStart = 0;  // samples made since then
    uint64_t rampIndex = 0;       // samples made since the device opened
    uint64_t toSkip = 0;          // samples still to drop for a skip
    WAVEHDR* queue[kQueueCapacity] = {};
    unsigned head = 0;
    unsigned size = 0;
};

FakeWinmm fake;
FakeDevice device;
SRWLOCK lock = SRWLOCK_INIT;  // guards `device`

struct Guard {
    Guard() { AcquireSRWLockExclusive(&lock); }
    ~Guard() { ReleaseSRWLockExclusive(&lock); }
    Guard(const Guard&) = delete;
    Guard& operator=(const Guard&) = delete;
};

bool IsOurs(HWAVEIN handle) {
    return handle == reinterpret_cast<HWAVEIN>(&device) && device.open;
}

double SecondsSince(const LARGE_INTEGER& then) {
    LARGE_INTEGER now;
    LARGE_INTEGER frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(now.QuadPart - then.QuadPart) /
           static_cast<double>(frequency.QuadPart);
}

// Requires `lock`. Hands a header back done, with release order as a driver does: the layer reads
// the flag without the fake's lock, with acquire order, and then the samples.
void MarkDone(WAVEHDR& header) {
    std::atomic_ref<DWORD>(header.dwFlags)
        .store((header.dwFlags & ~WHDR_INQUEUE) | WHDR_DONE, std::memory_order_release);
}

// Requires `lock`. One more sample of the ramp, into the oldest queued header if there is one;
// true when that header is full and done.
bool MakeSample() {
    const auto value = static_cast<int16_t>(static_cast<uint16_t>(device.rampIndex * kRampStep));
    ++device.rampIndex;
    ++device.madeSinceStart;
    if (fake.silent) return false;
    if (device.toSkip == 0)
        device.toSkip = static_cast<uint64_t>(fake.skipMs.exchange(0)) * 441 / 10;
    if (device.toSkip > 0 || device.size == 0) {
        if (device.toSkip > 0) --device.toSkip;
        ++fake.samplesDropped;
        return false;
    }
    WAVEHDR& header = *device.queue[device.head];
    reinterpret_cast<int16_t*>(header.lpData)[header.dwBytesRecorded / 2] = value;
    header.dwBytesRecorded += 2;
    if (header.dwBytesRecorded + 2 <= header.dwBufferLength) return false;
    MarkDone(header);
    device.head = (device.head + 1) % kQueueCapacity;
    --device.size;
    return true;
}

DWORD WINAPI Produce(void*) {
    for (;;) {
        Sleep(kPeriodMs);
        bool finished = false;
        HANDLE event = nullptr;
        {
            Guard guard;
            if (device.closing) return 0;
            event = device.event;
            if (device.recording) {
                const auto due = static_cast<uint64_t>(SecondsSince(device.startedAt) * kRateHz);
                while (device.madeSinceStart < due) finished |= MakeSample();
            }
        }
        if (finished) SetEvent(event);
    }
}

}  // namespace

FakeWinmm& TheFakeWinmm() {
    return fake;
}

void ResetFakeWinmm() {
    fake.opensToFail = 0;
    fake.holdOpens = false;
    fake.silent = false;
    fake.skipMs = 0;
    fake.opensTried = 0;
    fake.opensInProgress = 0;
    fake.opensSucceeded = 0;
    fake.closes = 0;
    fake.samplesDropped = 0;
}

extern "C" {

MMRESULT WINAPI waveInOpen(LPHWAVEIN handle, UINT, LPCWAVEFORMATEX format, DWORD_PTR callback,
                           DWORD_PTR, DWORD flags) {
    ++fake.opensTried;
    ++fake.opensInProgress;
    while (fake.holdOpens) Sleep(5);
    MMRESULT result = MMSYSERR_NOERROR;
    if (flags != CALLBACK_EVENT || format == nullptr || format->nBlockAlign != 2) {
        result = MMSYSERR_INVALPARAM;
    } else if (fake.opensToFail > 0) {
        --fake.opensToFail;
        result = MMSYSERR_BADDEVICEID;
    } else {
        Guard guard;
        if (device.open) {
            result = MMSYSERR_ALLOCATED;
        } else {
            device = FakeDevice{};
            device.open = true;
            device.event = reinterpret_cast<HANDLE>(callback);
            device.producer = CreateThread(nullptr, 0, Produce, nullptr, 0, nullptr);
            *handle = reinterpret_cast<HWAVEIN>(&device);
            ++fake.opensSucceeded;
        }
    }
    --fake.opensInProgress;
    return result;
}

MMRESULT WINAPI waveInClose(HWAVEIN handle) {
    HANDLE producer = nullptr;
    {
        Guard guard;
        if (!IsOurs(handle)) return MMSYSERR_INVALHANDLE;
        if (device.size > 0) return WAVERR_STILLPLAYING;
        device.closing = true;
        producer = device.producer;
    }
    WaitForSingleObject(producer, INFINITE);
    CloseHandle(producer);
    {
        Guard guard;
        device.open = false;
    }
    ++fake.closes;
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI waveInPrepareHeader(HWAVEIN handle, LPWAVEHDR header, UINT) {
    Guard guard;
    if (!IsOurs(handle)) return MMSYSERR_INVALHANDLE;
    header->dwFlags |= WHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI waveInUnprepareHeader(HWAVEIN handle, LPWAVEHDR header, UINT) {
    Guard guard;
    if (!IsOurs(handle)) return MMSYSERR_INVALHANDLE;
    if (header->dwFlags & WHDR_INQUEUE) return WAVERR_STILLPLAYING;
    header->dwFlags &= ~WHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI waveInAddBuffer(HWAVEIN handle, LPWAVEHDR header, UINT) {
    Guard guard;
    if (!IsOurs(handle)) return MMSYSERR_INVALHANDLE;
    if (!(header->dwFlags & WHDR_PREPARED)) return WAVERR_UNPREPARED;
    if ((header->dwFlags & WHDR_INQUEUE) || device.size == kQueueCapacity) {
        return WAVERR_STILLPLAYING;
    }
    header->dwFlags = (header->dwFlags & ~WHDR_DONE) | WHDR_INQUEUE;
    header->dwBytesRecorded = 0;
    device.queue[(device.head + device.size) % kQueueCapacity] = header;
    ++device.size;
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI waveInStart(HWAVEIN handle) {
    Guard guard;
    if (!IsOurs(handle)) return MMSYSERR_INVALHANDLE;
    device.recording = true;
    QueryPerformanceCounter(&device.startedAt);
    device.madeSinceStart = 0;
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI waveInStop(HWAVEIN handle) {
    Guard guard;
    if (!IsOurs(handle)) return MMSYSERR_INVALHANDLE;
    device.recording = false;
    return MMSYSERR_NOERROR;
}

// Every queued header comes back done, with what it holds.
MMRESULT WINAPI waveInReset(HWAVEIN handle) {
    HANDLE event = nullptr;
    {
        Guard guard;
        if (!IsOurs(handle)) return MMSYSERR_INVALHANDLE;
        device.recording = false;
        for (; device.size > 0; --device.size) {
            MarkDone(*device.queue[device.head]);
            device.head = (device.head + 1) % kQueueCapacity;
        }
        event = device.event;
    }
    SetEvent(event);
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI waveInGetErrorTextA(MMRESULT result, LPSTR text, UINT size) {
    if (result == MMSYSERR_BADDEVICEID) {
        std::snprintf(text, size, "%s", kFakeNoDeviceText);
    } else {
        std::snprintf(text, size, "Fake: error %u.", result);
    }
    return MMSYSERR_NOERROR;
}

}  // extern "C"
