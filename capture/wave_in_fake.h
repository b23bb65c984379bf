// A wave-input device for tests, linked instead of ALSA or winmm. It keeps the contract of
// wave_in.h (completions on a thread of its own, one at a time, in queue order) and lets a test
// decide what completes and when:
//
//   FakeWaveIn fake;           // one per test
//   InstallFake(fake);         // the wave:: functions now act on it
//   Start(stream);             // opens, prepares and queues as the code under test does
//   DeliverData(fake, 1024, samples);   // the oldest queued buffer completes with 1024 bytes
//   DeliverMessage(fake, WIM_CLOSE);     // any message, no buffer
//   Stop(stream);
//   ... then inspect fake.calls.
//
// It follows the stopping rules of wave_in.h: waveInStop and waveInReset wait for a completion
// under way; reset and close give queued buffers back through one more WIM_DATA each, which the
// fake's thread delivers after reset has returned.
//
// Every wave:: call is recorded with what the fake saw at that moment, so a test can check order
// (prepare before queue, reset before unprepare) and safety (nothing unprepared or closed while
// the device or a completion still held a buffer).
//
// Threads: the Deliver functions and InstallFake run on the test's thread and block until the
// fake's thread has finished the completion. The wave:: functions may be called from any thread,
// including from inside the completion routine.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "capture/wave_in.h"

enum class FakeCall {
    Open,
    Prepare,
    Unprepare,
    AddBuffer,
    Start,
    Stop,
    Reset,
    Close,
    Completion,     // the fake took `header` for completion and is about to call the routine
    CompletionEnd,  // the routine has returned for `header`
};

struct FakeCallRecord {
    FakeCall call;
    wave::WAVEHDR* header;  // the header passed, or the one completed; null otherwise
    wave::MMRESULT result;  // what the fake returned
    bool headerInUse;       // the header was queued or under completion at the time
    bool fromCompletion;    // made from inside the completion routine
};

struct FakeWaveIn {
    // Set by the test before Start.
    wave::MMRESULT openResult = 0;  // MMSYSERR_NOERROR; anything else: open fails
    bool holdBuffersOnReset =
        false;                  // a broken device: reset gives nothing back (close still does)
    int completionDelayMs = 0;  // a completion waits this long before calling the routine

    // Filled by the fake; read by the test once Stop has returned.
    std::vector<FakeCallRecord> calls;
    wave::WAVEFORMATEX openedFormat{};
    wave::DWORD openFlags = 0;

    // Internal state, guarded by `lock`.
    std::mutex lock;
    std::condition_variable changed;
    std::thread worker;
    bool open = false;
    bool started = false;
    bool closing = false;
    wave::WAVEHDR* completing = nullptr;  // the header whose completion is under way
    std::deque<wave::WAVEHDR*> queue;     // queued buffers, oldest first
    std::deque<wave::WAVEHDR*> returned;  // given back by reset or close, WIM_DATA still to come
    struct Request {
        bool data;  // true: complete the oldest queued buffer; false: send `message`
        uint32_t bytes;
        wave::UINT message;
        std::vector<int16_t> samples;
    };
    std::deque<Request> requests;  // Deliver calls not yet served, oldest first
    uint64_t requested = 0;        // Deliver calls made so far
    uint64_t served = 0;           // Deliver calls finished so far
    wave::DWORD_PTR callback = 0;
    wave::DWORD_PTR instance = 0;
};

// Makes `fake` the device behind the wave:: functions until another is installed. The fake must
// outlive its waveInClose.
void InstallFake(FakeWaveIn& fake);

// Completes the oldest queued buffer on the fake's thread: copies `samples` (at most the buffer's
// length) into it, sets dwBytesRecorded to `bytes` and calls the routine with WIM_DATA. Returns
// once the routine has returned; false, completing nothing, when the device is not started or no
// buffer is queued when the fake's thread takes up the request.
bool DeliverData(FakeWaveIn& fake, uint32_t bytes, const std::vector<int16_t>& samples);

// Calls the routine with `message` and no buffer, on the fake's thread.
void DeliverMessage(FakeWaveIn& fake, wave::UINT message);

// Waits until the fake's thread has taken a buffer for completion (it may still be before the
// routine, see completionDelayMs).
void WaitForCompletionUnderWay(FakeWaveIn& fake);
