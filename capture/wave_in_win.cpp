// The wave-input functions of wave_in_win.h over the real winmm. The device is opened with
// CALLBACK_EVENT and a worker thread of ours runs the caller's routine, where winmm's calls are
// allowed. The driver records into a deeper ring of blocks of ours (wine's winmm fills headers in
// passes of up to 30 ms, more than two caller buffers hold), which the worker copies into the
// caller's headers in order. The worker also keeps the driver's device alive: it reopens a device
// that is missing or went silent, and counts arrivals against the clock, as winmm reports neither.
// Opening may hang in a sound server, so waveInOpen of the driver runs on a thread of its own, the
// opener; waveInClose leaves an open that hangs to it, and the opener then frees the record.
// The handle given to the caller is the address of our WinWaveIn record, never a winmm handle.
#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <initializer_list>

#include "capture/arrival_clock.h"
#include "capture/sound_input.h"
#include "capture/wave_in_win.h"

namespace capture::wave {
namespace {

// The driver's ring: each finished block is copied out and re-queued at once, so the caller may
// fall up to about 93 ms behind before sound is lost.
constexpr unsigned kBlocks = 8;
constexpr DWORD kBlockBytes = 1024;

// More headers than any caller queues at once; a fixed ring keeps waveInAddBuffer free of
// allocation.
constexpr unsigned kQueueCapacity = 16;

// The worker wakes at least this often to look at the clock, with or without sound.
constexpr DWORD kTickMs = 100;
// Between two attempts to open a device that is missing.
constexpr double kRetrySeconds = 1.0;
// A recording device that finishes no block for this long is gone; under wine the first block
// after a start takes one to two seconds, while the sound server sets up the stream.
constexpr int kSilentSecondsRecording = 1;
constexpr int kSilentSecondsStarting = 5;
// A tick this much late means the process itself was held, not the device: the silence is then
// counted afresh from that tick.
constexpr double kHeldSeconds = 0.5;
// How long waveInClose waits for an open attempt in progress before it leaves it behind.
constexpr DWORD kOpenerWaitMs = 500;
// How long waveInOpen waits for the first attempt (normally a few milliseconds), so that, as with
// winmm, the device records once waveInOpen and waveInStart have returned.
constexpr DWORD kFirstAttemptWaitMs = 1000;

// What the worker holds of the driver's device. WaitingForDevice -> Opening when the retry time
// comes; Opening -> WaitingForDevice when the open fails, or -> Ready (then Starting, if the caller
// asked for recording); Ready -> Starting on waveInStart; Starting -> Recording with the first
// finished block. Starting or Recording -> WaitingForDevice when the device is lost (silent, or a
// refusal), -> Ready on waveInStop or waveInReset. Any -> Closed on waveInClose. Sound moves into
// the caller's headers only in Starting and Recording.
enum class DeviceState { WaitingForDevice, Opening, Ready, Starting, Recording, Closed };

// The opener's side of an attempt, handed back and forth under the lock.
//   None -> Asked (worker) -> Busy (opener) -> Finished (opener) -> None (worker takes the result)
//   Busy -> Abandoned (waveInClose gave up waiting; the opener cleans up after its open returns)
enum class Attempt { None, Asked, Busy, Finished, Abandoned };

struct Block {
    WAVEHDR header{};
    // Bytes of header.dwBytesRecorded already copied to caller headers.
    DWORD consumed = 0;
    char data[kBlockBytes];
};

struct WinWaveIn {
    UINT deviceId = WAVE_MAPPER;
    WAVEFORMATEX format{};
    // As the stderr lines call the device.
    char name[16] = {};
    WaveInProc routine = nullptr;
    DWORD_PTR instance = 0;
    // Of QueryPerformanceCounter.
    double ticksPerSecond = 1;
    // Auto-reset; set by winmm (open, close, each finished block), the opener and waveInAddBuffer.
    HANDLE wakeEvent = nullptr;
    // Auto-reset; asks the opener for an attempt.
    HANDLE openEvent = nullptr;
    // Auto-reset; set by the opener after each attempt.
    HANDLE attemptEvent = nullptr;
    // Manual-reset; set by waveInClose to end both threads.
    HANDLE quitEvent = nullptr;
    HANDLE worker = nullptr;
    HANDLE opener = nullptr;

    // Guards everything below it. Never held while the routine runs.
    CRITICAL_SECTION lock;
    DeviceState state = DeviceState::Opening;
    // The driver's device in Ready, Starting and Recording.
    ::HWAVEIN device = nullptr;
    // The caller's wish: from waveInStart to a stop, reset or close.
    bool recordingRequested = false;
    // What the next successful open has to say (kCaptureTexts.opened or .back); null: nothing.
    const char* notice = nullptr;
    double retryAtSeconds = 0;
    // When a block last finished, or recording started.
    double lastArrivalSeconds = 0;
    double lastTickSeconds = 0;

    Block blocks[kBlocks];
    // The block the driver finishes next; they finish in ring order.
    unsigned oldestBlock = 0;
    // Finished blocks, from the oldest on, whose samples are counted.
    unsigned countedBlocks = 0;
    // Samples since recording started, and as far as the arrival clock has seen them.
    uint64_t samplesReceived = 0;
    uint64_t samplesObserved = 0;
    ArrivalClock arrivals;

    // The caller's headers, oldest first; the oldest `givenBack` are completed as they are.
    WAVEHDR* queue[kQueueCapacity] = {};
    unsigned head = 0;
    unsigned size = 0;
    unsigned givenBack = 0;

    Attempt attempt = Attempt::None;
    ::HWAVEIN attemptDevice = nullptr;
    MMRESULT attemptResult = MMSYSERR_NOERROR;

    // Held by the worker while it fills headers and runs the routine, so stopping can wait for it.
    CRITICAL_SECTION routineLock;
};

WinWaveIn* FromHandle(HWAVEIN handle) {
    return reinterpret_cast<WinWaveIn*>(handle);
}
HWAVEIN ToHandle(WinWaveIn& in) {
    return reinterpret_cast<HWAVEIN>(&in);
}

// Holds a critical section until the end of the scope.
struct Locked {
    explicit Locked(CRITICAL_SECTION& held) : section(held) { EnterCriticalSection(&section); }
    ~Locked() { LeaveCriticalSection(&section); }
    Locked(const Locked&) = delete;
    Locked& operator=(const Locked&) = delete;
    CRITICAL_SECTION& section;
};

double Seconds(const WinWaveIn& in) {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) / in.ticksPerSecond;
}

void Say(const char* format, ...) {
    std::va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
    std::fflush(stderr);
}

// winmm's own words for a result, without the closing full stop, or its number.
struct ResultText {
    char text[MAXERRORLENGTH] = {};
};

ResultText Describe(MMRESULT result) {
    ResultText words{};
    if (::waveInGetErrorTextA(result, words.text, sizeof words.text) != MMSYSERR_NOERROR ||
        words.text[0] == '\0') {
        std::snprintf(words.text, sizeof words.text, "winmm error %u",
                      static_cast<unsigned>(result));
        return words;
    }
    size_t length = std::strlen(words.text);
    while (length > 0 && (words.text[length - 1] == '.' || words.text[length - 1] == ' ')) --length;
    words.text[length] = '\0';
    return words;
}

// winmm's thread sets WHDR_DONE once it has filled a block. The worker also looks after a time-out,
// with no event to order what it reads, so the flag is read with acquire order: the block's byte
// count and samples, written before the flag, are then seen complete.
bool IsDone(WAVEHDR& header) {
    return (std::atomic_ref<DWORD>(header.dwFlags).load(std::memory_order_acquire) & WHDR_DONE) !=
           0;
}

bool Capturing(const WinWaveIn& in) {
    return in.state == DeviceState::Starting || in.state == DeviceState::Recording;
}

// Bytes of a caller header that take samples: whole frames only, as winmm itself does.
DWORD UsableBytes(const WinWaveIn& in, const WAVEHDR& header) {
    return header.dwBufferLength - header.dwBufferLength % in.format.nBlockAlign;
}

// Requires `lock`. Takes the oldest caller header out of the queue, done, for its WIM_DATA. The
// flags are stored with release order, as winmm's driver does: a caller that watches them from
// another thread sees the header's bytes with them.
WAVEHDR* PopCallerHeader(WinWaveIn& in) {
    WAVEHDR* header = in.queue[in.head];
    in.head = (in.head + 1) % kQueueCapacity;
    --in.size;
    std::atomic_ref<DWORD>(header->dwFlags)
        .store((header->dwFlags & ~WHDR_INQUEUE) | WHDR_DONE, std::memory_order_release);
    return header;
}

// Requires `lock`. Counts the samples of blocks the driver has finished since the last count.
// When every block is finished and none is back with the driver, it has nowhere to record to
// and drops sound until one is.
void CountArrivals(WinWaveIn& in) {
    const unsigned before = in.countedBlocks;
    while (in.countedBlocks < kBlocks) {
        Block& block = in.blocks[(in.oldestBlock + in.countedBlocks) % kBlocks];
        if (!IsDone(block.header)) break;
        in.samplesReceived += block.header.dwBytesRecorded / in.format.nBlockAlign;
        ++in.countedBlocks;
    }
    if (in.countedBlocks == kBlocks && before < kBlocks) NoteRanDry(in.arrivals, Seconds(in));
}

// Requires `lock`. Forgets what the blocks held: they are all back from the driver or about to be
// handed to it afresh.
void ForgetBlocks(WinWaveIn& in) {
    for (Block& block : in.blocks) block.consumed = 0;
    in.oldestBlock = 0;
    in.countedBlocks = 0;
}

// Requires `lock` and a device. Closes what is left of it; its blocks stay ours for the next.
void CloseDriver(WinWaveIn& in) {
    if (Capturing(in)) ::waveInReset(in.device);
    for (Block& block : in.blocks)
        ::waveInUnprepareHeader(in.device, &block.header, sizeof(WAVEHDR));
    ::waveInClose(in.device);
    in.device = nullptr;
    ForgetBlocks(in);
}

// Requires `lock` and a device. The device went away (silent, or the driver refused to record):
// say so once, close it and try again in a while.
void LoseDevice(WinWaveIn& in, double now, const char* reason) {
    Say(kCaptureTexts.gone, in.name, reason);
    CloseDriver(in);
    in.state = DeviceState::WaitingForDevice;
    in.retryAtSeconds = now + kRetrySeconds;
    in.notice = kCaptureTexts.back;
}

// Requires `lock`. When the caller wants recording and the driver's device is open and idle, hands
// every block to the driver and starts it: Starting, or the device is lost to the driver's refusal.
void StartIfRequested(WinWaveIn& in, double now) {
    if (!in.recordingRequested || in.state != DeviceState::Ready) return;
    ForgetBlocks(in);
    in.samplesReceived = 0;
    in.samplesObserved = 0;
    RestartArrivals(in.arrivals, in.format.nSamplesPerSec, kWinmmSettleSeconds);
    in.lastArrivalSeconds = now;
    MMRESULT result = MMSYSERR_NOERROR;
    for (Block& block : in.blocks) {
        result = ::waveInAddBuffer(in.device, &block.header, sizeof(WAVEHDR));
        if (result != MMSYSERR_NOERROR) break;
    }
    if (result == MMSYSERR_NOERROR) result = ::waveInStart(in.device);
    if (result == MMSYSERR_NOERROR) {
        in.state = DeviceState::Starting;
    } else {
        LoseDevice(in, now, Describe(result).text);
    }
}

// Requires `lock`. Moves finished sound from the driver's blocks into the caller's headers until
// a caller header is full (returned, to be delivered), or nothing more can move (nullptr).
WAVEHDR* FillCallerHeader(WinWaveIn& in) {
    while (Capturing(in)) {
        CountArrivals(in);
        if (in.countedBlocks == 0) return nullptr;
        Block& block = in.blocks[in.oldestBlock];
        if (block.consumed == block.header.dwBytesRecorded) {
            const MMRESULT requeued = ::waveInAddBuffer(in.device, &block.header, sizeof(WAVEHDR));
            if (requeued != MMSYSERR_NOERROR) {
                LoseDevice(in, Seconds(in), Describe(requeued).text);
                return nullptr;
            }
            block.consumed = 0;
            in.oldestBlock = (in.oldestBlock + 1) % kBlocks;
            --in.countedBlocks;
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

// The next caller header to complete: given-back ones first, as they are.
WAVEHDR* NextCompletion(WinWaveIn& in) {
    const Locked locked(in.lock);
    if (in.givenBack > 0) {
        --in.givenBack;
        return PopCallerHeader(in);
    }
    return FillCallerHeader(in);
}

void CompleteAll(WinWaveIn& in) {
    const Locked inRoutine(in.routineLock);
    while (WAVEHDR* done = NextCompletion(in)) {
        in.routine(ToHandle(in), WIM_DATA, in.instance, reinterpret_cast<DWORD_PTR>(done), 0);
    }
}

// Requires `lock`, Opening with a finished attempt. Takes its device, or schedules the next try.
void TakeAttempt(WinWaveIn& in, double now) {
    const MMRESULT result = in.attemptResult;
    in.attempt = Attempt::None;
    if (result != MMSYSERR_NOERROR) {
        if (in.notice == nullptr) {
            Say(kCaptureTexts.cannotOpen, in.name, Describe(result).text);
            in.notice = kCaptureTexts.opened;
        }
        in.state = DeviceState::WaitingForDevice;
        in.retryAtSeconds = now + kRetrySeconds;
        return;
    }
    in.device = in.attemptDevice;
    for (Block& block : in.blocks) {
        block.header.lpData = block.data;
        block.header.dwBufferLength = kBlockBytes;
        block.header.dwFlags = 0;
        ::waveInPrepareHeader(in.device, &block.header, sizeof(WAVEHDR));
    }
    if (in.notice != nullptr) Say(in.notice, in.name);
    in.notice = nullptr;
    in.state = DeviceState::Ready;
    StartIfRequested(in, now);
}

// Requires `lock`. Starting or Recording, after the finished blocks have been taken in: reports
// sound that never arrived, or a device that went silent.
void WatchSound(WinWaveIn& in, double now) {
    if (in.samplesReceived != in.samplesObserved) {
        in.samplesObserved = in.samplesReceived;
        in.lastArrivalSeconds = now;
        in.state = DeviceState::Recording;
        const uint64_t lost = ObserveArrivals(in.arrivals, now, in.samplesReceived);
        if (lost > 0) Say(kCaptureTexts.overrun, static_cast<unsigned long long>(lost));
        return;
    }
    // With every block finished and none given back yet, the driver has nowhere to record to:
    // the caller is behind, and the device is not to blame for the silence.
    if (in.countedBlocks == kBlocks) in.lastArrivalSeconds = now;
    const int silentSeconds =
        in.state == DeviceState::Starting ? kSilentSecondsStarting : kSilentSecondsRecording;
    if (now - in.lastArrivalSeconds >= silentSeconds) {
        char reason[32];
        std::snprintf(reason, sizeof reason, kCaptureTexts.silent, silentSeconds);
        LoseDevice(in, now, reason);
    }
}

// The worker's look at the clock and at the opener, after every wake-up.
void Supervise(WinWaveIn& in) {
    const Locked locked(in.lock);
    const double now = Seconds(in);
    if (now - in.lastTickSeconds > kHeldSeconds) in.lastArrivalSeconds = now;
    in.lastTickSeconds = now;
    switch (in.state) {
        case DeviceState::WaitingForDevice:
            if (now >= in.retryAtSeconds) {
                in.state = DeviceState::Opening;
                in.attempt = Attempt::Asked;
                SetEvent(in.openEvent);
            }
            break;
        case DeviceState::Opening:
            if (in.attempt == Attempt::Finished) TakeAttempt(in, now);
            break;
        case DeviceState::Starting:
        case DeviceState::Recording:
            CountArrivals(in);
            WatchSound(in, now);
            break;
        case DeviceState::Ready:
        case DeviceState::Closed:
            break;
    }
}

DWORD WINAPI WorkerMain(void* param) {
    WinWaveIn& in = *static_cast<WinWaveIn*>(param);
    in.routine(ToHandle(in), WIM_OPEN, in.instance, 0, 0);
    const HANDLE waits[2] = {in.quitEvent, in.wakeEvent};
    // One wake-up may stand for several finished blocks (the event does not count), so each
    // wake-up completes all it can. The quit event comes first so that it wins when both are set;
    // what waveInClose gave back is still completed before WIM_CLOSE.
    for (;;) {
        const DWORD woken = WaitForMultipleObjects(2, waits, FALSE, kTickMs);
        if (woken == WAIT_OBJECT_0 || woken == WAIT_FAILED) break;
        CompleteAll(in);
        Supervise(in);
    }
    CompleteAll(in);
    in.routine(ToHandle(in), WIM_CLOSE, in.instance, 0, 0);
    return 0;
}

void Destroy(WinWaveIn* in) {
    for (HANDLE event : {in->quitEvent, in->openEvent, in->attemptEvent, in->wakeEvent}) {
        if (event) CloseHandle(event);
    }
    DeleteCriticalSection(&in->routineLock);
    DeleteCriticalSection(&in->lock);
    delete in;
}

// Moves the attempt from `from` to `to`, if it is still at `from`; tells whether it was.
bool MoveAttempt(WinWaveIn& in, Attempt from, Attempt to) {
    const Locked locked(in.lock);
    if (in.attempt != from) return false;
    in.attempt = to;
    return true;
}

// The opener's open has returned: hands its result to the worker, or false when waveInClose gave
// up waiting for it.
bool FinishAttempt(WinWaveIn& in, ::HWAVEIN device, MMRESULT result) {
    const Locked locked(in.lock);
    if (in.attempt == Attempt::Abandoned) return false;
    in.attempt = Attempt::Finished;
    in.attemptDevice = device;
    in.attemptResult = result;
    return true;
}

DWORD WINAPI OpenerMain(void* param) {
    WinWaveIn& in = *static_cast<WinWaveIn*>(param);
    const HANDLE waits[2] = {in.quitEvent, in.openEvent};
    while (WaitForMultipleObjects(2, waits, FALSE, INFINITE) == WAIT_OBJECT_0 + 1) {
        if (!MoveAttempt(in, Attempt::Asked, Attempt::Busy)) continue;
        ::HWAVEIN device = nullptr;
        const MMRESULT result =
            ::waveInOpen(&device, in.deviceId, &in.format,
                         reinterpret_cast<DWORD_PTR>(in.wakeEvent), 0, CALLBACK_EVENT);
        if (!FinishAttempt(in, device, result)) {
            // Abandoned: waveInClose has returned long ago; nobody else holds the record any more.
            if (result == MMSYSERR_NOERROR) ::waveInClose(device);
            Destroy(&in);
            return 0;
        }
        SetEvent(in.wakeEvent);
        SetEvent(in.attemptEvent);
    }
    return 0;
}

// Ends recording and waits until the worker has left the routine. Called from the routine itself
// it does not wait (the lock is re-entrant), and nothing else is running then.
void EndRecording(WinWaveIn& in) {
    {
        const Locked locked(in.lock);
        in.recordingRequested = false;
        if (Capturing(in)) {
            ::waveInReset(in.device);
            ForgetBlocks(in);
            in.state = DeviceState::Ready;
        }
    }
    // Taken and let go at once: the worker is then out of the routine.
    const Locked inRoutine(in.routineLock);
}

// Ends recording, then gives every queued caller header back through the worker.
void GiveBackAll(WinWaveIn& in) {
    EndRecording(in);
    const Locked locked(in.lock);
    in.givenBack = in.size;
    SetEvent(in.wakeEvent);
}

// With the quit event set: waits, for a bounded time, for the opener to end. Returns true when it
// has; false when it is stuck in the driver's open and the attempt has been left to it.
bool EndOpener(WinWaveIn& in) {
    if (WaitForSingleObject(in.opener, kOpenerWaitMs) == WAIT_OBJECT_0) return true;
    const bool busy = MoveAttempt(in, Attempt::Busy, Attempt::Abandoned);
    // Not busy: its open returned just now, and it is on its way out.
    if (!busy) WaitForSingleObject(in.opener, INFINITE);
    return !busy;
}

// winmm's checks of every header call: a handle, and a whole WAVEHDR.
MMRESULT CheckHeader(HWAVEIN device, const WAVEHDR* header, UINT headerSize) {
    if (device == nullptr) return MMSYSERR_INVALHANDLE;
    if (header == nullptr || headerSize < sizeof(WAVEHDR)) return MMSYSERR_INVALPARAM;
    return MMSYSERR_NOERROR;
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
    in->deviceId = deviceId;
    in->format = *format;
    in->format.cbSize = 0;
    std::snprintf(in->name, sizeof in->name, deviceId == WAVE_MAPPER ? "default" : "%u", deviceId);
    in->routine = reinterpret_cast<WaveInProc>(callback);
    in->instance = instance;
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    in->ticksPerSecond = static_cast<double>(frequency.QuadPart);
    in->lastTickSeconds = Seconds(*in);
    // The first attempt, asked for before the threads run; the opener starts it once told.
    in->attempt = Attempt::Asked;
    in->wakeEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    in->openEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    in->attemptEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    in->quitEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (in->wakeEvent == nullptr || in->openEvent == nullptr || in->attemptEvent == nullptr ||
        in->quitEvent == nullptr) {
        Destroy(in);
        return MMSYSERR_NOMEM;
    }
    // The opener first: until it is told it only waits, so it ends at once if the worker cannot
    // be made; the worker greets the routine with WIM_OPEN as soon as it runs.
    in->opener = CreateThread(nullptr, 0, OpenerMain, in, 0, nullptr);
    if (in->opener == nullptr) {
        Destroy(in);
        return MMSYSERR_NOMEM;
    }
    in->worker = CreateThread(nullptr, 0, WorkerMain, in, 0, nullptr);
    if (in->worker == nullptr) {
        SetEvent(in->quitEvent);
        WaitForSingleObject(in->opener, INFINITE);
        CloseHandle(in->opener);
        Destroy(in);
        return MMSYSERR_NOMEM;
    }
    // Whatever becomes of the first attempt, the caller has a device that will record once the
    // driver's device opens.
    SetEvent(in->openEvent);
    WaitForSingleObject(in->attemptEvent, kFirstAttemptWaitMs);
    *device = ToHandle(*in);
    return MMSYSERR_NOERROR;
}

// The caller's headers never reach the driver, so preparing one only checks it and marks it.
MMRESULT waveInPrepareHeader(HWAVEIN device, WAVEHDR* header, UINT headerSize) {
    const MMRESULT checked = CheckHeader(device, header, headerSize);
    if (checked != MMSYSERR_NOERROR) return checked;
    if (header->lpData == nullptr || UsableBytes(*FromHandle(device), *header) == 0) {
        return MMSYSERR_INVALPARAM;
    }
    header->dwFlags |= WHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT waveInUnprepareHeader(HWAVEIN device, WAVEHDR* header, UINT headerSize) {
    const MMRESULT checked = CheckHeader(device, header, headerSize);
    if (checked != MMSYSERR_NOERROR) return checked;
    const Locked locked(FromHandle(device)->lock);
    if (header->dwFlags & WHDR_INQUEUE) return WAVERR_STILLPLAYING;
    header->dwFlags &= ~WHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT waveInAddBuffer(HWAVEIN device, WAVEHDR* header, UINT headerSize) {
    const MMRESULT checked = CheckHeader(device, header, headerSize);
    if (checked != MMSYSERR_NOERROR) return checked;
    WinWaveIn& in = *FromHandle(device);
    const Locked locked(in.lock);
    if (!(header->dwFlags & WHDR_PREPARED)) return WAVERR_UNPREPARED;
    if (header->dwFlags & WHDR_INQUEUE) return WAVERR_STILLPLAYING;
    if (in.size == kQueueCapacity) return MMSYSERR_NOMEM;
    header->dwFlags = (header->dwFlags & ~WHDR_DONE) | WHDR_INQUEUE;
    header->dwBytesRecorded = 0;
    in.queue[(in.head + in.size) % kQueueCapacity] = header;
    ++in.size;
    // Sound may be waiting in a finished block for exactly this header.
    SetEvent(in.wakeEvent);
    return MMSYSERR_NOERROR;
}

// Recording starts now if the driver's device is open, otherwise as soon as it opens.
MMRESULT waveInStart(HWAVEIN device) {
    if (device == nullptr) return MMSYSERR_INVALHANDLE;
    WinWaveIn& in = *FromHandle(device);
    const Locked locked(in.lock);
    in.recordingRequested = true;
    StartIfRequested(in, Seconds(in));
    SetEvent(in.wakeEvent);
    return MMSYSERR_NOERROR;
}

MMRESULT waveInStop(HWAVEIN device) {
    if (device == nullptr) return MMSYSERR_INVALHANDLE;
    EndRecording(*FromHandle(device));
    return MMSYSERR_NOERROR;
}

MMRESULT waveInReset(HWAVEIN device) {
    if (device == nullptr) return MMSYSERR_INVALHANDLE;
    GiveBackAll(*FromHandle(device));
    return MMSYSERR_NOERROR;
}

MMRESULT waveInClose(HWAVEIN device) {
    if (device == nullptr) return MMSYSERR_INVALHANDLE;
    WinWaveIn* in = FromHandle(device);
    GiveBackAll(*in);
    {
        const Locked locked(in->lock);
        if (in->device != nullptr) CloseDriver(*in);
        in->state = DeviceState::Closed;
    }
    SetEvent(in->quitEvent);
    WaitForSingleObject(in->worker, INFINITE);
    CloseHandle(in->worker);
    in->worker = nullptr;

    const bool openerEnded = EndOpener(*in);
    CloseHandle(in->opener);
    // Otherwise the opener is stuck in the driver's open and now owns the record (see the top).
    if (!openerEnded) return MMSYSERR_NOERROR;
    // An attempt that succeeded after the worker had stopped looking.
    if (in->attempt == Attempt::Finished && in->attemptResult == MMSYSERR_NOERROR) {
        ::waveInClose(in->attemptDevice);
    }
    Destroy(in);
    return MMSYSERR_NOERROR;
}

}  // namespace capture::wave
