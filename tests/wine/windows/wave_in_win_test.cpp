// Tests of the winmm wave-input layer against the real winmm, run under wine beside a private
// PulseAudio cable into which tests/wine/with-ramp plays an endless ramp:
//   scripts/with-pulse tests/wine/with-ramp ctest --test-dir build-windows
// Sample n of the ramp is 7 n (mod 2^16), so every sample follows the one before it by exactly
// +7 and any stretch of sound that capture loses or repeats shows as a break. (The ramp comes
// from paplay rather than from winmm's own waveOut: under wine, waveOut underruns now and then
// and would break the ramp on the playing side.)
#include "tests/wine/windows/recorder.h"

namespace {

using namespace wavetest;

TEST(WaveInWin, OpenRefusesWhatTheCaptureSequenceNeverAsksFor) {
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
    size_t firstBreak = 0;
    const size_t breaks = RampBreaks(got, &firstBreak);
    EXPECT_EQ(breaks, 0u) << "the ramp breaks " << breaks << " times, first after sample "
                          << firstBreak << " of " << got.size();
}

}  // namespace
