// Tests of the winmm wave-input layer against the real winmm, run under wine beside a private
// PulseAudio cable into which tests/wine/with-ramp plays an endless ramp:
//   scripts/with-pulse tests/wine/with-ramp ctest --test-dir build-windows
// Sample n of the ramp is 7 n (mod 2^16), so every sample follows the one before it by exactly
// +7 and any stretch of sound that capture loses or repeats shows as a break. (The ramp comes
// from paplay rather than from winmm's own waveOut: under wine, waveOut underruns now and then
// and would break the ramp on the playing side.)
#include <windows.h>

#include <mmsystem.h>  // needs <windows.h> before it

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

#include "capture/wave_in.h"

namespace {

constexpr DWORD kRate = 44100;
constexpr DWORD kBufferBytes = 1024;

WAVEFORMATEX MonoPcm16(WORD blockAlign = 2) {
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

// What the completion routine saw, and how it behaves: like the capture stream it hands every
// buffer back while `requeue` is set. `slowEvery` > 0 makes every slowEvery-th completion take
// 40 ms, longer than the 23 ms that two buffers of 1024 bytes last.
struct Recorder {
    HWAVEIN handle{};
    std::atomic<bool> requeue{true};
    int slowEvery = 0;
    std::mutex lock;
    std::vector<Message> messages;
    std::vector<int16_t> samples;  // reserved up front; sound beyond the reserve is not kept
    std::atomic<int> dataCount{0};
};

void CALLBACK Record(HWAVEIN device, UINT message, DWORD_PTR instance, DWORD_PTR param1,
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
    if (rec.requeue) wave::waveInAddBuffer(device, header, sizeof(WAVEHDR));
}

// Two 1024-byte buffers with dwUser 0 and 1, as the capture stream keeps them.
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

MMRESULT OpenRecorder(Recorder& rec, const WAVEFORMATEX& format) {
    return wave::waveInOpen(&rec.handle, WAVE_MAPPER, &format, reinterpret_cast<DWORD_PTR>(&Record),
                            reinterpret_cast<DWORD_PTR>(&rec), CALLBACK_FUNCTION);
}

// Polls `done` every 10 ms for up to `seconds`; the tests assert on what happened, never on time.
template <typename Done>
bool WaitUntil(Done done, int seconds = 20) {
    for (int i = 0; i < seconds * 100; ++i) {
        if (done()) return true;
        Sleep(10);
    }
    return done();
}

bool InQueue(const WAVEHDR& header) {
    return (*static_cast<const volatile DWORD*>(&header.dwFlags) & WHDR_INQUEUE) != 0;
}

// Takes the device down in the capture stream's order: stop handing buffers back, stop, reset
// until both buffers are back, unprepare, close.
void TakeDown(Recorder& rec, Buffers& buffers) {
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

void StartRecording(Recorder& rec, Buffers& buffers) {
    for (WAVEHDR& header : buffers.headers) {
        ASSERT_EQ(wave::waveInPrepareHeader(rec.handle, &header, sizeof(WAVEHDR)),
                  MMSYSERR_NOERROR);
        ASSERT_EQ(wave::waveInAddBuffer(rec.handle, &header, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    }
    ASSERT_EQ(wave::waveInStart(rec.handle), MMSYSERR_NOERROR);
}

constexpr uint16_t kRampStep = 7;

uint16_t Step(const std::vector<int16_t>& samples, size_t i) {
    return static_cast<uint16_t>(static_cast<uint16_t>(samples[i + 1]) -
                                 static_cast<uint16_t>(samples[i]));
}

TEST(WaveInWin, OpenRefusesWhatTheCaptureStreamNeverAsksFor) {
    struct Case {
        const char* what;
        DWORD flags;
        WORD blockAlign;
    };
    const Case cases[] = {
        {"an event instead of a routine", CALLBACK_EVENT, 2},
        {"no callback kind", CALLBACK_NULL, 2},
        {"a block align of 0", CALLBACK_FUNCTION, 0},
        {"frames that do not tile the driver's blocks", CALLBACK_FUNCTION, 3},
    };
    for (const Case& c : cases) {
        Recorder rec;
        const WAVEFORMATEX format = MonoPcm16(c.blockAlign);
        HWAVEIN handle{};
        EXPECT_EQ(
            wave::waveInOpen(&handle, WAVE_MAPPER, &format, reinterpret_cast<DWORD_PTR>(&Record),
                             reinterpret_cast<DWORD_PTR>(&rec), c.flags),
            MMSYSERR_INVALPARAM)
            << c.what;
        EXPECT_TRUE(rec.messages.empty()) << c.what;
    }
}

// A device that did not open leaves a null handle behind; every call on it is refused, none
// dereferences it.
TEST(WaveInWin, CallsOnANullHandleAreRefused) {
    Buffers buffers;
    WAVEHDR* header = &buffers.headers[0];
    const HWAVEIN none{};
    EXPECT_EQ(wave::waveInPrepareHeader(none, header, sizeof(WAVEHDR)), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(wave::waveInAddBuffer(none, header, sizeof(WAVEHDR)), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(wave::waveInStart(none), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(wave::waveInStop(none), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(wave::waveInReset(none), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(wave::waveInUnprepareHeader(none, header, sizeof(WAVEHDR)), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(wave::waveInClose(none), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(header->dwFlags, 0u);
}

TEST(WaveInWin, HeadersFollowWinmmRulesAndComeBackThroughTheRoutineOnReset) {
    Recorder rec;
    rec.requeue = false;
    ASSERT_EQ(OpenRecorder(rec, MonoPcm16()), MMSYSERR_NOERROR);
    Buffers buffers;
    WAVEHDR& header = buffers.headers[1];

    EXPECT_EQ(wave::waveInAddBuffer(rec.handle, &header, sizeof(WAVEHDR)), WAVERR_UNPREPARED);
    ASSERT_EQ(wave::waveInPrepareHeader(rec.handle, &header, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    ASSERT_EQ(wave::waveInAddBuffer(rec.handle, &header, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    EXPECT_EQ(wave::waveInAddBuffer(rec.handle, &header, sizeof(WAVEHDR)), WAVERR_STILLPLAYING);
    EXPECT_EQ(wave::waveInUnprepareHeader(rec.handle, &header, sizeof(WAVEHDR)),
              WAVERR_STILLPLAYING);

    // Never started: the reset gives the header back empty, through one WIM_DATA.
    ASSERT_EQ(wave::waveInReset(rec.handle), MMSYSERR_NOERROR);
    ASSERT_TRUE(WaitUntil([&] { return rec.dataCount.load() == 1; }));
    EXPECT_EQ(wave::waveInUnprepareHeader(rec.handle, &header, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    ASSERT_EQ(wave::waveInClose(rec.handle), MMSYSERR_NOERROR);

    std::lock_guard<std::mutex> guard(rec.lock);
    ASSERT_EQ(rec.messages.size(), 3u);
    EXPECT_EQ(rec.messages[0].message, static_cast<UINT>(WIM_OPEN));
    const Message& data = rec.messages[1];
    EXPECT_EQ(data.message, static_cast<UINT>(WIM_DATA));
    EXPECT_EQ(data.user, 1u);
    EXPECT_EQ(data.bytes, 0u);
    EXPECT_EQ(data.flags & (WHDR_DONE | WHDR_INQUEUE), static_cast<DWORD>(WHDR_DONE));
    EXPECT_EQ(rec.messages[2].message, static_cast<UINT>(WIM_CLOSE));
}

size_t MessageCount(Recorder& rec) {
    std::lock_guard<std::mutex> guard(rec.lock);
    return rec.messages.size();
}

TEST(WaveInWin, FullBuffersInQueueOrderOnOneThreadOfItsOwnAndNothingAfterClose) {
    Recorder rec;
    ASSERT_EQ(OpenRecorder(rec, MonoPcm16()), MMSYSERR_NOERROR);
    Buffers buffers;
    StartRecording(rec, buffers);
    ASSERT_TRUE(WaitUntil([&] { return rec.dataCount.load() >= 40; }));
    TakeDown(rec, buffers);
    const size_t seenAtClose = MessageCount(rec);
    // A worker that outlived waveInClose would still be completing buffers or sending WIM_CLOSE.
    Sleep(200);
    EXPECT_EQ(MessageCount(rec), seenAtClose);

    std::lock_guard<std::mutex> guard(rec.lock);
    ASSERT_GE(seenAtClose, 42u);
    EXPECT_EQ(rec.messages.front().message, static_cast<UINT>(WIM_OPEN));
    EXPECT_EQ(rec.messages[seenAtClose - 1].message, static_cast<UINT>(WIM_CLOSE));
    const DWORD worker = rec.messages.front().thread;
    EXPECT_NE(worker, GetCurrentThreadId());
    int shortBuffers = 0;
    for (size_t i = 1; i < seenAtClose; ++i) {
        const Message& m = rec.messages[i];
        EXPECT_EQ(m.thread, worker) << "message " << i;
        if (i == seenAtClose - 1) break;
        ASSERT_EQ(m.message, static_cast<UINT>(WIM_DATA)) << "message " << i;
        EXPECT_EQ(m.user, (i - 1) % 2) << "buffers come back in the order they were queued";
        EXPECT_EQ(m.flags & (WHDR_DONE | WHDR_INQUEUE), static_cast<DWORD>(WHDR_DONE));
        if (m.bytes != kBufferBytes) ++shortBuffers;
    }
    // Only what the reset gave back may be short; both buffers were handed back full before it.
    EXPECT_EQ(shortBuffers, 0);
}

// The driver records into a deeper ring than the caller's two buffers: a completion that takes
// longer than two buffers last delays the sound instead of losing it.
TEST(WaveInWin, SlowCompletionsLoseNoSound) {
    Recorder rec;
    rec.slowEvery = 4;
    rec.samples.reserve(4 * kRate);
    ASSERT_EQ(OpenRecorder(rec, MonoPcm16()), MMSYSERR_NOERROR);
    Buffers buffers;
    StartRecording(rec, buffers);
    // About 2 s of sound: 172 buffers of 512 samples.
    ASSERT_TRUE(WaitUntil([&] { return rec.dataCount.load() >= 172; }));
    TakeDown(rec, buffers);

    std::lock_guard<std::mutex> guard(rec.lock);
    const std::vector<int16_t>& got = rec.samples;
    ASSERT_GE(got.size(), size_t{kRate});
    ASSERT_EQ(Step(got, 0), kRampStep) << "no ramp in the sound: run under tests/wine/with-ramp";
    size_t breaks = 0;
    size_t firstBreak = 0;
    for (size_t i = 0; i + 1 < got.size(); ++i) {
        if (Step(got, i) != kRampStep && breaks++ == 0) firstBreak = i;
    }
    EXPECT_EQ(breaks, 0u) << "the ramp breaks " << breaks << " times, first after sample "
                          << firstBreak << " of " << got.size();
}

}  // namespace
