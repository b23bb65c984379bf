// What the winmm layer's tests under wine share: a completion routine that records what it is
// given and hands buffers back as the capture sequence does, the capture sequence's two buffers,
// and its order of starting and taking down a device. Sound in these tests is a
// ramp, sample n = 7 n (mod 2^16): every sample follows the one before it by exactly +7, so any
// stretch of sound that capture loses or repeats shows as a break.
#pragma once

#include <windows.h>

#include <mmsystem.h>  // needs <windows.h> before it

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

#include "capture/wave_in_win.h"

namespace wavetest {

namespace wave = capture::wave;

constexpr DWORD kRate = 44100;
constexpr DWORD kBufferBytes = 1024;

inline WAVEFORMATEX MonoPcm16(WORD blockAlign = 2) {
    WAVEFORMATEX format{};
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = 1;
    format.nSamplesPerSec = kRate;
    format.nAvgBytesPerSec = kRate * 2;
    format.nBlockAlign = blockAlign;
    format.wBitsPerSample = 16;
    return format;
}

struct Message {
    UINT message;
    DWORD thread;
    DWORD_PTR user;  // dwUser of the header, WIM_DATA only
    DWORD bytes;     // dwBytesRecorded, WIM_DATA only
    DWORD flags;     // dwFlags as the routine saw them, WIM_DATA only
};

// What the completion routine saw, and how it behaves: like the capture sequence it hands every
// buffer back while `requeue` is set. `slowEvery` > 0 makes every slowEvery-th completion take
// 40 ms, longer than the 23 ms that two buffers of 1024 bytes last; `holdNextMs` > 0 makes the
// next completion take that long, once.
struct Recorder {
    HWAVEIN handle{};
    std::atomic<bool> requeue{true};
    int slowEvery = 0;
    std::atomic<DWORD> holdNextMs{0};
    std::mutex lock;
    std::vector<Message> messages;
    std::vector<int16_t> samples;  // reserved up front; sound beyond the reserve is not kept
    std::atomic<int> dataCount{0};
};

inline void CALLBACK Record(HWAVEIN device, UINT message, DWORD_PTR instance, DWORD_PTR param1,
                            DWORD_PTR) {
    auto& rec = *reinterpret_cast<Recorder*>(instance);
    Message seen{message, GetCurrentThreadId(), 0, 0, 0};
    auto* header = reinterpret_cast<WAVEHDR*>(param1);
    if (message == WIM_DATA) {
        seen.user = header->dwUser;
        seen.bytes = header->dwBytesRecorded;
        seen.flags = header->dwFlags;
    }
    {
        std::lock_guard<std::mutex> guard(rec.lock);
        rec.messages.push_back(seen);
        if (message == WIM_DATA) {
            const auto* data = reinterpret_cast<const int16_t*>(header->lpData);
            const size_t count = header->dwBytesRecorded / 2;
            if (rec.samples.size() + count <= rec.samples.capacity()) {
                rec.samples.insert(rec.samples.end(), data, data + count);
            }
        }
    }
    if (message != WIM_DATA) return;
    const int index = ++rec.dataCount;
    if (rec.slowEvery > 0 && index % rec.slowEvery == 0) Sleep(40);
    if (const DWORD hold = rec.holdNextMs.exchange(0); hold > 0) Sleep(hold);
    if (rec.requeue) wave::waveInAddBuffer(device, header, sizeof(WAVEHDR));
}

// Two 1024-byte buffers with dwUser 0 and 1, as the capture sequence keeps them.
struct Buffers {
    char data[2][kBufferBytes] = {};
    WAVEHDR headers[2] = {};
    Buffers() {
        for (DWORD_PTR i = 0; i < 2; ++i) {
            headers[i].lpData = data[i];
            headers[i].dwBufferLength = kBufferBytes;
            headers[i].dwUser = i;
        }
    }
};

inline MMRESULT OpenRecorder(Recorder& rec, const WAVEFORMATEX& format) {
    return wave::waveInOpen(&rec.handle, WAVE_MAPPER, &format, reinterpret_cast<DWORD_PTR>(&Record),
                            reinterpret_cast<DWORD_PTR>(&rec), CALLBACK_FUNCTION);
}

// Polls `done` every 10 ms for up to `seconds`; the tests assert on what happened, never on time.
template <typename Done>
inline bool WaitUntil(Done done, int seconds = 20) {
    for (int i = 0; i < seconds * 100; ++i) {
        if (done()) return true;
        Sleep(10);
    }
    return done();
}

// The layer's thread clears WHDR_INQUEUE when it hands a header back.
inline bool InQueue(WAVEHDR& header) {
    return (std::atomic_ref<DWORD>(header.dwFlags).load(std::memory_order_acquire) &
            WHDR_INQUEUE) != 0;
}

// Takes the device down in the capture sequence's order: stop handing buffers back, stop, reset
// until both buffers are back, unprepare, close.
inline void TakeDown(Recorder& rec, Buffers& buffers) {
    rec.requeue = false;
    Sleep(100);
    EXPECT_EQ(wave::waveInStop(rec.handle), MMSYSERR_NOERROR);
    EXPECT_EQ(wave::waveInReset(rec.handle), MMSYSERR_NOERROR);
    ASSERT_TRUE(
        WaitUntil([&] { return !InQueue(buffers.headers[0]) && !InQueue(buffers.headers[1]); }));
    for (WAVEHDR& header : buffers.headers) {
        EXPECT_EQ(wave::waveInUnprepareHeader(rec.handle, &header, sizeof(WAVEHDR)),
                  MMSYSERR_NOERROR);
    }
    EXPECT_EQ(wave::waveInClose(rec.handle), MMSYSERR_NOERROR);
}

inline void StartRecording(Recorder& rec, Buffers& buffers) {
    for (WAVEHDR& header : buffers.headers) {
        ASSERT_EQ(wave::waveInPrepareHeader(rec.handle, &header, sizeof(WAVEHDR)),
                  MMSYSERR_NOERROR);
        ASSERT_EQ(wave::waveInAddBuffer(rec.handle, &header, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    }
    ASSERT_EQ(wave::waveInStart(rec.handle), MMSYSERR_NOERROR);
}

constexpr uint16_t kRampStep = 7;

inline uint16_t Step(const std::vector<int16_t>& samples, size_t i) {
    return static_cast<uint16_t>(static_cast<uint16_t>(samples[i + 1]) -
                                 static_cast<uint16_t>(samples[i]));
}

inline size_t MessageCount(Recorder& rec) {
    std::lock_guard<std::mutex> guard(rec.lock);
    return rec.messages.size();
}

// Places where the ramp does not go on by kRampStep: sound lost or repeated.
inline size_t RampBreaks(const std::vector<int16_t>& samples, size_t* firstBreak = nullptr) {
    size_t breaks = 0;
    for (size_t i = 0; i + 1 < samples.size(); ++i) {
        if (Step(samples, i) != kRampStep && breaks++ == 0 && firstBreak != nullptr) {
            *firstBreak = i;
        }
    }
    return breaks;
}

}  // namespace wavetest
