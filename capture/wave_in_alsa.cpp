// The wave-input functions over ALSA, on the "default" capture device: the same calls and the
// same completion contract as winmm (see wave_in.h), so the capture stream is one piece of code.
//
// One capture thread per device record fills the queued headers in queue order. A header is
// filled to the last byte (short reads are continued) and then handed to the completion routine
// with WIM_DATA; the routine may queue it again from there. The PCM is opened non-blocking and
// the thread waits in poll() on the PCM's descriptors plus an eventfd, which every call that needs
// the thread's attention writes: a read through the PulseAudio or PipeWire plugin may otherwise
// never return when no sound arrives, and stopping must never hang.
//
// The device may come and go while the tool runs (a USB adapter plugged in late or pulled, a sound
// server restarted). waveInOpen succeeds without it; the thread keeps trying to open it about
// once a second, and when capture fails (-ENODEV, -EIO, -EBADFD, an overrun that recurs before a
// single sample could be read) it closes the PCM and reopens it the same way. Queued headers wait
// meanwhile; the one that was being filled continues where it stopped.
//
// Opening and closing a PCM may wait on a sound server without a time limit, so a second thread,
// the PCM worker, makes those calls; the capture thread only reads (see PcmWorker).
//
// Everything is reported on stderr, one line per event; standard output belongs to the tool's
// status lines. Repeated failures of the same kind while the device is away stay quiet.
//   vorlank: cannot open audio input "default": REASON          (no device yet)
//   vorlank: audio input "default" does not take ... / runs at N Hz, not 44100 Hz; ...
//   vorlank: audio input "default" is open; capture has started (it came after all)
//   vorlank: audio input "default" is gone (REASON); waiting for it to come back
//   vorlank: audio input "default" is back; capture has resumed
//   vorlank: audio input overrun, about N samples lost           (an overrun, or a stall)
#include <alsa/asoundlib.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>

#include "capture/arrival_clock.h"
#include "capture/wave_in.h"

namespace wave {

namespace {

constexpr const char* kDeviceName = "default";
constexpr unsigned kBytesPerSample = 2;  // S16_LE is the only sample format the tool uses
// 512 frames per period, as one capture buffer of the tool; eight periods (about 93 ms) of ring
// buffer give the completion routine slack before an overrun.
constexpr snd_pcm_uframes_t kPeriodFrames = 512;
constexpr snd_pcm_uframes_t kRingPeriods = 8;

// More headers than any caller queues at once; the capture stream rotates two.
constexpr size_t kQueueCapacity = 16;
// A PCM polls on one or two descriptors (hw, pulse, pipewire: one); room for more, plus the
// wake-up descriptor, so that no reopen needs memory.
constexpr size_t kMaxPollFds = 16;
// When the PCM's descriptors report data that is not there (the pulse plugin does so for a second
// or two while its stream connects), the thread waits this long for a wake-up before reading
// again, instead of spinning on poll().
constexpr int kSpuriousWakeupBackoffMs = 2;
// While the device is away it is tried again this often, counted from the start of one attempt to
// the start of the next, so a slow failing open does not stretch the rhythm.
constexpr auto kReopenInterval = std::chrono::seconds(1);
// A suspended device (-ESTRPIPE) is asked to resume this often until it agrees.
constexpr int kResumeRetryMs = 100;

using Clock = std::chrono::steady_clock;
using Seconds = std::chrono::duration<double>;

// First-in first-out headers in a fixed ring, so that queueing a buffer, which happens once per
// buffer on the capture thread, never allocates.
struct HeaderQueue {
    std::array<WAVEHDR*, kQueueCapacity> slots{};
    size_t head = 0;
    size_t size = 0;

    bool empty() const { return size == 0; }
    bool full() const { return size == kQueueCapacity; }
    WAVEHDR* front() const { return slots[head]; }
    void push_back(WAVEHDR* header) {
        slots[(head + size) % kQueueCapacity] = header;
        ++size;
    }
    void pop_front() {
        head = (head + 1) % kQueueCapacity;
        --size;
    }
};

void ReportLoss(uint64_t samples) {
    std::fprintf(stderr, "vorlank: audio input overrun, about %llu samples lost\n",
                 static_cast<unsigned long long>(samples));
}

// Why an open did not give a usable PCM. Each kind is reported once while the device is away.
enum class OpenFailure : unsigned {
    None = 0,
    NoDevice = 1,   // snd_pcm_open failed: no such device, no server
    NoFormat = 2,   // the device refuses mono (or N-channel) 16-bit samples at the rate
    WrongRate = 4,  // the device offers only a neighbouring rate
};

struct OpenResult {
    snd_pcm_t* pcm = nullptr;  // configured and started; null when the open failed
    OpenFailure failure = OpenFailure::None;
    int err = 0;               // ALSA's reason (NoDevice, NoFormat)
    unsigned grantedRate = 0;  // WrongRate: the rate the device offers
};

// Opening and closing a PCM may wait on a sound server without a time limit: a server that
// accepts the connection but does not answer (stopped, or busy starting) keeps snd_pcm_open, the
// stream set-up and start inside it, or the drain inside snd_pcm_close, waiting for a reply. So
// these calls run on a thread of their own, the PCM worker, and the capture thread only hands
// them over and collects the result: it stays free to give headers back and to stop at once.
//
// The open job, requested by the capture thread, made by the worker:
//   None -> Wanted      capture thread: it has no PCM and an attempt is due
//   Wanted -> Underway  worker: opens, configures and starts a PCM without the lock
//   Underway -> Done    worker: the result waits in `result`; the capture thread is woken
//   Done -> None        capture thread: takes the result
enum class OpenJob { None, Wanted, Underway, Done };

// The worker itself, which takes one job at a time (closes first, then an open):
//   Serving -> Ending    waveInClose: finish the closes handed over, then end
//   Ending -> Ended      worker: done and about to return; waveInClose joins it
//   Ending -> Abandoned  waveInClose: the worker did not end within kWorkerGrace (a call hangs);
//                        it is let go and, when the call returns, closes what it still holds,
//                        frees its record and ends, touching nothing of the device's
enum class WorkerState { Serving, Ending, Ended, Abandoned };

// How long waveInClose waits for the worker to finish a call into ALSA before letting it go.
constexpr auto kWorkerGrace = std::chrono::milliseconds(100);
// PCMs handed over for closing; one at a time is the rule (the worker also opens the next).
constexpr size_t kMaxClosing = 4;

struct PcmWorker {
    std::mutex lock;
    std::condition_variable changed;
    WorkerState state = WorkerState::Serving;
    OpenJob open = OpenJob::None;
    OpenResult result;  // Done: what the open gave
    std::array<snd_pcm_t*, kMaxClosing> closing{};
    size_t closingCount = 0;
    WAVEFORMATEX format{};
    int notifyFd = -1;  // the worker's own duplicate of the device's wake-up descriptor
    std::thread thread;
};

}  // namespace

// What the capture thread is doing, as far as callers are concerned. It holds a PCM exactly in
// Running, Delivering and Stopping. Transitions:
//   Idle       -> Waiting     caller: waveInStart; an open is asked for at once
//   Waiting    -> Running     thread: the worker's open gave a running PCM (after a reported
//                             failure, with the "open" or "back" line)
//   Running    -> Delivering  thread: the oldest header is full; the routine runs
//   Delivering -> Running     thread: the routine returned
//   Running    -> Waiting     thread: the device failed ("gone" line); the PCM goes to the worker
//                             to be closed, and an open is asked for about once a second
//   Waiting    -> Idle        caller: waveInStop, waveInReset; the thread holds no header and no
//                             PCM, so there is nothing to wait for (an open under way is closed
//                             again when it ends)
//   Running, Delivering -> Stopping   caller: waveInStop, waveInReset, waveInClose; it waits
//                             for Idle unless it is the routine itself
//   Stopping   -> Idle        thread: out of its read loop and out of the routine; the PCM goes
//                             to the worker to be closed, so a later start begins afresh
//   Idle       -> Closed      caller: waveInClose; the thread gives the headers back, sends
//                             WIM_CLOSE and ends
enum class CaptureState { Idle, Waiting, Running, Delivering, Stopping, Closed };

// Which line, if any, announces that capture runs once a PCM opens after a reported failure.
enum class Notice { None, Started, Resumed };

struct WaveInDevice {
    // Fixed from waveInOpen to waveInClose.
    WaveInProc routine = nullptr;
    DWORD_PTR instance = 0;
    WAVEFORMATEX format{};
    int wakeFd = -1;  // eventfd: makes the capture thread's poll() return
    PcmWorker* worker = nullptr;
    std::thread thread;

    // Shared between the callers' threads and the capture thread; guarded by `lock`. The capture
    // thread also reads `state` without the lock while it reads samples, to see a stop at once.
    std::mutex lock;
    std::condition_variable changed;  // the capture thread moved out of Stopping
    std::atomic<CaptureState> state{CaptureState::Idle};
    HeaderQueue queue;     // waiting to be filled, oldest first; the front may be partly filled
    HeaderQueue returned;  // given back by reset or close, their WIM_DATA still to come

    // Private to the capture thread.
    snd_pcm_t* pcm = nullptr;
    unsigned pcmFds = 0;  // the PCM's descriptors at the start of pollFds; the wake-up follows
    std::array<pollfd, kMaxPollFds + 1> pollFds{};
    unsigned frameBytes = 0;
    ArrivalClock arrivals;
    uint64_t framesArrived = 0;    // read since the PCM (re)started, as the arrival clock counts
    Clock::time_point lastRead{};  // the latest read that returned samples, or the (re)start
    Clock::time_point nextOpen{};  // when the next attempt to open is due
    unsigned reported = 0;         // OpenFailure bits reported since the device was last open
    unsigned opens = 0;            // PCMs opened so far
    Notice notice = Notice::None;
};

namespace {

using Guard = std::unique_lock<std::mutex>;

// alsa-lib prints its own diagnostics to stderr by default, several lines for one missing device;
// each failure here is reported once, in one line of ours, instead.
void QuietAlsaError(const char*, int, const char*, int, const char*, ...) {}

void Wake(int fd) {
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = write(fd, &one, sizeof one);
}

void DrainWake(int fd) {
    uint64_t count = 0;
    [[maybe_unused]] const ssize_t got = read(fd, &count, sizeof count);
}

// Sleeps until woken or until `timeoutMs` has passed (-1: no limit); a wake-up is consumed.
void SleepUntilWoken(int fd, int timeoutMs) {
    pollfd wake{fd, POLLIN, 0};
    if (poll(&wake, 1, timeoutMs) > 0) DrainWake(fd);
}

void SetState(WaveInDevice& dev, CaptureState state) {
    dev.state.store(state, std::memory_order_release);
    dev.changed.notify_all();
}

bool OnCaptureThread(const WaveInDevice& dev) {
    return std::this_thread::get_id() == dev.thread.get_id();
}

// ---- Opening and closing, on the PCM worker ----

// Configures S16_LE at the format's channel count and rate, period 512 frames, a ring of at
// least two periods, and checks what the device granted. Setting the hardware parameters also
// prepares the PCM, which is where a sound server's plugin connects its stream.
OpenResult Configure(snd_pcm_t* pcm, const WAVEFORMATEX& format) {
    snd_pcm_hw_params_t* hw = nullptr;
    snd_pcm_hw_params_alloca(&hw);
    unsigned rate = format.nSamplesPerSec;
    snd_pcm_uframes_t period = kPeriodFrames;
    snd_pcm_uframes_t ring = kPeriodFrames * kRingPeriods;
    snd_pcm_uframes_t minRing = 2 * kPeriodFrames;
    int err = snd_pcm_hw_params_any(pcm, hw);
    if (err >= 0) err = snd_pcm_hw_params_set_access(pcm, hw, SND_PCM_ACCESS_RW_INTERLEAVED);
    if (err >= 0) err = snd_pcm_hw_params_set_format(pcm, hw, SND_PCM_FORMAT_S16_LE);
    if (err >= 0) err = snd_pcm_hw_params_set_channels(pcm, hw, format.nChannels);
    if (err >= 0) err = snd_pcm_hw_params_set_rate_near(pcm, hw, &rate, nullptr);
    if (err >= 0) err = snd_pcm_hw_params_set_period_size_near(pcm, hw, &period, nullptr);
    if (err >= 0) err = snd_pcm_hw_params_set_buffer_size_min(pcm, hw, &minRing);
    if (err >= 0) err = snd_pcm_hw_params_set_buffer_size_near(pcm, hw, &ring);
    if (err >= 0) err = snd_pcm_hw_params(pcm, hw);
    if (err < 0) return OpenResult{nullptr, OpenFailure::NoFormat, err, 0};
    // A device may grant a neighbouring rate; decoding bit cells at the wrong rate would give
    // wrong results without any sign, so anything but the exact rate is refused.
    unsigned granted = 0;
    int dir = 0;
    snd_pcm_hw_params_get_rate(hw, &granted, &dir);
    if (granted != format.nSamplesPerSec || dir != 0) {
        return OpenResult{nullptr, OpenFailure::WrongRate, 0, granted};
    }
    if (static_cast<size_t>(snd_pcm_poll_descriptors_count(pcm)) > kMaxPollFds) {
        return OpenResult{nullptr, OpenFailure::NoDevice, -ENOSPC, 0};
    }
    return OpenResult{pcm, OpenFailure::None, 0, granted};
}

// alsa-lib's configuration as it stands now, read afresh for each attempt: what "default" means
// may depend on the moment (the PulseAudio hook routes it to the server only if one was running
// when the configuration was read, and alsa-lib keeps its own copy from the first open on). A
// private copy, not alsa-lib's global one, so that the plugins it loaded stay loaded: unloading
// and loading pipewire-alsa again costs memory every time.
struct AlsaConfig {
    snd_config_t* top = nullptr;
    snd_config_update_t* update = nullptr;
};

int ReadConfig(AlsaConfig& config) {
    return snd_config_update_r(&config.top, &config.update, nullptr);
}

void FreeConfig(AlsaConfig& config) {
    if (config.top != nullptr) snd_config_delete(config.top);
    if (config.update != nullptr) snd_config_update_free(config.update);
}

// Opens, configures and starts the default device: a running PCM, or why not.
OpenResult OpenPcm(const WAVEFORMATEX& format) {
    AlsaConfig config;
    snd_pcm_t* pcm = nullptr;
    int err = ReadConfig(config);
    if (err >= 0) {
        err = snd_pcm_open_lconf(&pcm, kDeviceName, SND_PCM_STREAM_CAPTURE, SND_PCM_NONBLOCK,
                                 config.top);
    }
    FreeConfig(config);  // an open PCM keeps nothing of it
    if (err < 0) return OpenResult{nullptr, OpenFailure::NoDevice, err, 0};
    OpenResult result = Configure(pcm, format);
    if (result.pcm != nullptr) err = snd_pcm_start(pcm);
    if (err < 0) result = OpenResult{nullptr, OpenFailure::NoDevice, err, 0};
    if (result.pcm == nullptr) snd_pcm_close(pcm);
    return result;
}

// The worker has ended or been abandoned: nobody will collect what it holds.
void CloseLeftovers(PcmWorker& worker) {
    for (size_t i = 0; i < worker.closingCount; ++i) snd_pcm_close(worker.closing[i]);
    worker.closingCount = 0;
    if (worker.open == OpenJob::Done && worker.result.pcm != nullptr) {
        snd_pcm_close(worker.result.pcm);
    }
    worker.open = OpenJob::None;
}

// The worker was let go: nobody else knows its record any more.
void FreeAbandoned(PcmWorker* worker, Guard& guard) {
    CloseLeftovers(*worker);
    guard.unlock();
    close(worker->notifyFd);
    delete worker;
}

// One job without the lock: a close handed over, else the open asked for. Returns false when the
// worker was abandoned meanwhile and has freed itself.
bool DoJob(PcmWorker* worker, Guard& guard) {
    PcmWorker& w = *worker;
    snd_pcm_t* toClose = nullptr;
    if (w.closingCount > 0) {
        toClose = w.closing[--w.closingCount];
    } else {
        w.open = OpenJob::Underway;
    }
    guard.unlock();
    OpenResult result;
    if (toClose != nullptr) {
        snd_pcm_close(toClose);
    } else {
        result = OpenPcm(w.format);
    }
    guard.lock();
    if (toClose == nullptr) {
        w.result = result;
        w.open = OpenJob::Done;
        Wake(w.notifyFd);
    }
    if (w.state == WorkerState::Abandoned) {
        FreeAbandoned(worker, guard);
        return false;
    }
    return true;
}

void RunWorker(PcmWorker* worker) {
    PcmWorker& w = *worker;
    Guard guard(w.lock);
    for (;;) {
        w.changed.wait(guard, [&] {
            return w.closingCount > 0 || w.open == OpenJob::Wanted ||
                   w.state == WorkerState::Ending || w.state == WorkerState::Abandoned;
        });
        if (w.state == WorkerState::Abandoned) {
            FreeAbandoned(worker, guard);
            return;
        }
        if (w.closingCount > 0 || (w.state != WorkerState::Ending && w.open == OpenJob::Wanted)) {
            if (!DoJob(worker, guard)) return;
            continue;
        }
        w.state = WorkerState::Ended;
        w.changed.notify_all();
        return;
    }
}

// Ends the worker with the device. A worker that is still inside a call into ALSA after
// kWorkerGrace is not waited for: it is abandoned and cleans up after itself when (if ever) the
// call returns.
void EndWorker(PcmWorker* worker) {
    PcmWorker& w = *worker;
    Guard guard(w.lock);
    w.state = WorkerState::Ending;
    w.changed.notify_all();
    if (!w.changed.wait_for(guard, kWorkerGrace, [&] { return w.state == WorkerState::Ended; })) {
        w.state = WorkerState::Abandoned;
        guard.unlock();
        w.thread.detach();
        return;
    }
    CloseLeftovers(w);
    guard.unlock();
    w.thread.join();
    close(w.notifyFd);
    delete worker;
}

// ---- The capture thread's side of opening and closing ----

// Asks the worker for an attempt when none is under way and one is due.
void RequestOpenIfDue(WaveInDevice& dev, Clock::time_point now) {
    PcmWorker& w = *dev.worker;
    const Guard guard(w.lock);
    if (w.open != OpenJob::None || now < dev.nextOpen) return;
    w.open = OpenJob::Wanted;
    dev.nextOpen = now + kReopenInterval;
    w.changed.notify_all();
}

bool OpenUnderway(WaveInDevice& dev) {
    const Guard guard(dev.worker->lock);
    return dev.worker->open != OpenJob::None;
}

// Hands the PCM to the worker to close; the capture thread is done with it at once.
void ClosePcm(WaveInDevice& dev) {
    if (dev.pcm == nullptr) return;
    PcmWorker& w = *dev.worker;
    Guard guard(w.lock);
    if (w.closingCount < kMaxClosing) {
        w.closing[w.closingCount++] = dev.pcm;
        w.changed.notify_all();
    } else {
        guard.unlock();  // never seen: the worker closes each before it opens the next
        snd_pcm_close(dev.pcm);
    }
    dev.pcm = nullptr;
    dev.pcmFds = 0;
}

void ReportFailure(WaveInDevice& dev, const OpenResult& result) {
    const auto kind = static_cast<unsigned>(result.failure);
    if ((dev.reported & kind) != 0) return;
    dev.reported |= kind;
    dev.notice = dev.opens == 0 ? Notice::Started : Notice::Resumed;
    const WAVEFORMATEX& f = dev.format;
    switch (result.failure) {
        case OpenFailure::NoDevice:
            std::fprintf(stderr, "vorlank: cannot open audio input \"%s\": %s\n", kDeviceName,
                         snd_strerror(result.err));
            break;
        case OpenFailure::NoFormat:
            std::fprintf(stderr,
                         "vorlank: audio input \"%s\" does not take %u-channel 16-bit samples at "
                         "%u Hz: %s\n",
                         kDeviceName, f.nChannels, f.nSamplesPerSec, snd_strerror(result.err));
            break;
        case OpenFailure::WrongRate:
            std::fprintf(
                stderr,
                "vorlank: audio input \"%s\" runs at %u Hz, not %u Hz; nothing is captured\n",
                kDeviceName, result.grantedRate, f.nSamplesPerSec);
            break;
        case OpenFailure::None:
            break;
    }
}

void ReportGone(WaveInDevice& dev, int err) {
    std::fprintf(stderr, "vorlank: audio input \"%s\" is gone (%s); waiting for it to come back\n",
                 kDeviceName, snd_strerror(err));
    // The reopen attempts that fail while it is away say nothing more.
    dev.reported |= static_cast<unsigned>(OpenFailure::NoDevice);
    dev.notice = Notice::Resumed;
    dev.nextOpen = Clock::now() + kReopenInterval;
}

// Samples lost without a word from ALSA: pipewire-alsa, for one, drops what the server captured
// while this process was stopped (SIGSTOP, a frozen machine) and reports no overrun. So whenever
// the thread has read everything there is, the frames read since the PCM (re)started are held
// against the clock (arrival_clock.h); this starts that count afresh, as of `now`.
void RestartArrivalCount(WaveInDevice& dev, Clock::time_point now) {
    RestartArrivals(dev.arrivals, dev.format.nSamplesPerSec, kAlsaSettleSeconds);
    dev.framesArrived = 0;
    dev.lastRead = now;
}

// Takes the worker's result when there is one. A running PCM that comes while capture is wanted
// starts it (Waiting -> Running), with the line that says capture runs again when a failure was
// reported before; one that comes after a stop is closed again. A failure is reported (once per
// kind while the device is away).
void CollectOpen(WaveInDevice& dev) {
    OpenResult result;
    {
        const Guard guard(dev.worker->lock);
        if (dev.worker->open != OpenJob::Done) return;
        result = dev.worker->result;
        dev.worker->open = OpenJob::None;
    }
    if (result.pcm == nullptr) {
        ReportFailure(dev, result);
        return;
    }
    dev.pcm = result.pcm;
    dev.pcmFds = static_cast<unsigned>(snd_pcm_poll_descriptors_count(dev.pcm));
    dev.reported = 0;
    ++dev.opens;
    if (dev.state != CaptureState::Waiting) {
        ClosePcm(dev);
        return;
    }
    RestartArrivalCount(dev, Clock::now());
    if (dev.notice == Notice::Started) {
        std::fprintf(stderr, "vorlank: audio input \"%s\" is open; capture has started\n",
                     kDeviceName);
    } else if (dev.notice == Notice::Resumed) {
        std::fprintf(stderr, "vorlank: audio input \"%s\" is back; capture has resumed\n",
                     kDeviceName);
    }
    dev.notice = Notice::None;
    SetState(dev, CaptureState::Running);
}

// ---- Reading ----

enum class FillEnd { Full, Stopped, Lost };

struct FillOutcome {
    FillEnd end;
    int err;  // Lost: the reason
};

bool StillRunning(const WaveInDevice& dev) {
    return dev.state.load(std::memory_order_acquire) == CaptureState::Running;
}

// Waits for samples or a wake-up: 1 when samples may be read, 0 when the thread is asked to stop,
// a negative errno when waiting itself failed. `backoff` is set when the previous wait said
// samples were there and the read found none: then only the wake-up is waited for, briefly.
int WaitForSamples(WaveInDevice& dev, bool backoff) {
    pollfd* fds = dev.pollFds.data();
    snd_pcm_poll_descriptors(dev.pcm, fds, dev.pcmFds);
    pollfd& wake = dev.pollFds[dev.pcmFds];
    wake = pollfd{dev.wakeFd, POLLIN, 0};
    const int ready =
        backoff ? poll(&wake, 1, kSpuriousWakeupBackoffMs) : poll(fds, dev.pcmFds + 1, -1);
    if (ready < 0) return errno == EINTR ? 1 : -errno;
    if (wake.revents & POLLIN) {
        DrainWake(dev.wakeFd);
        if (!StillRunning(dev)) return 0;
    }
    if (backoff) return 1;
    // Plugins such as pulse do their bookkeeping here; an error shows up in the next read.
    unsigned short revents = 0;
    snd_pcm_poll_descriptors_revents(dev.pcm, fds, dev.pcmFds, &revents);
    return 1;
}

// Sleeps up to `ms` unless woken; false when the thread is asked to stop.
bool Pause(WaveInDevice& dev, int ms) {
    SleepUntilWoken(dev.wakeFd, ms);
    return StillRunning(dev);
}

int Restart(snd_pcm_t* pcm) {
    int err = snd_pcm_prepare(pcm);
    if (err >= 0) err = snd_pcm_start(pcm);
    return err;
}

// Reads into `header` until it is full, the thread is asked to stop, or the device is gone.
//
// An overrun (-EPIPE: the routine fell behind and the ring overflowed) is recovered and reported
// with an estimate of the samples lost, taken from the time since the last read, since ALSA does
// not tell. The report waits for the first samples after the recovery: pipewire-alsa answers
// every read with -EPIPE once its server has gone, and such an overrun is the device's loss, not
// a lost stretch of sound; an overrun that recurs before any sample was read counts as that.
FillOutcome Fill(WaveInDevice& dev, WAVEHDR& header) {
    const snd_pcm_uframes_t total = header.dwBufferLength / dev.frameBytes;
    snd_pcm_uframes_t got = header.dwBytesRecorded / dev.frameBytes;
    bool waited = false;       // the last wait said samples were there
    uint64_t overrunLoss = 0;  // an overrun's estimate, reported with the first samples after it
    while (got < total) {
        if (!StillRunning(dev)) break;
        const snd_pcm_sframes_t n =
            snd_pcm_readi(dev.pcm, header.lpData + got * dev.frameBytes, total - got);
        const Clock::time_point now = Clock::now();
        if (n > 0) {
            got += static_cast<snd_pcm_uframes_t>(n);
            header.dwBytesRecorded = static_cast<DWORD>(got * dev.frameBytes);
            dev.framesArrived += static_cast<uint64_t>(n);
            dev.lastRead = now;
            if (overrunLoss > 0) ReportLoss(overrunLoss);
            overrunLoss = 0;
            waited = false;
            continue;
        }
        int err = 0;
        if (n == 0 || n == -EAGAIN) {
            // Everything there is has been read: the moment to compare with the clock.
            if (!waited) {
                const uint64_t lost = ObserveArrivals(
                    dev.arrivals, Seconds(now.time_since_epoch()).count(), dev.framesArrived);
                if (lost > 0) ReportLoss(lost);
            }
            err = WaitForSamples(dev, waited);
            if (err == 0) break;
            // After a brief back-off the descriptors are waited on again.
            waited = !waited;
        } else if (n == -EPIPE) {
            if (overrunLoss > 0) return {FillEnd::Lost, -EPIPE};
            const Seconds gap = now - dev.lastRead;
            overrunLoss = static_cast<uint64_t>(
                std::max(1LL, std::llround(gap.count() * dev.format.nSamplesPerSec)));
            err = Restart(dev.pcm);
            RestartArrivalCount(dev, now);
        } else if (n == -ESTRPIPE) {
            // Suspended with the machine; the clock did not run meanwhile, nothing to report.
            err = snd_pcm_resume(dev.pcm);
            if (err == -EAGAIN) {
                if (!Pause(dev, kResumeRetryMs)) break;
                continue;
            }
            if (err < 0) err = Restart(dev.pcm);
            RestartArrivalCount(dev, now);
        } else if (n != -EINTR) {
            err = static_cast<int>(n);  // -ENODEV, -EBADFD, -EIO: the device or its server is gone
        }
        if (err < 0) return {FillEnd::Lost, err};
    }
    if (overrunLoss > 0) ReportLoss(overrunLoss);
    return {got == total ? FillEnd::Full : FillEnd::Stopped, 0};
}

// ---- The capture thread ----

void Call(WaveInDevice& dev, Guard& guard, UINT message, WAVEHDR* header) {
    guard.unlock();
    dev.routine(&dev, message, dev.instance, reinterpret_cast<DWORD_PTR>(header), 0);
    guard.lock();
}

void Complete(WaveInDevice& dev, Guard& guard, WAVEHDR* header) {
    header->dwFlags = (header->dwFlags & ~WHDR_INQUEUE) | WHDR_DONE;
    Call(dev, guard, WIM_DATA, header);
}

// Waits, without the lock, for a wake-up or until `deadline` (none: epoch).
void WaitForWake(WaveInDevice& dev, Guard& guard, Clock::time_point deadline) {
    int timeoutMs = -1;
    if (deadline != Clock::time_point{}) {
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        timeoutMs = static_cast<int>(std::max<decltype(left)>(left, 0));
    }
    guard.unlock();
    SleepUntilWoken(dev.wakeFd, timeoutMs);
    guard.lock();
}

// Fills the oldest queued header and hands it to the routine; on a failure of the device, closes
// the PCM and goes back to waiting for it.
void CaptureOne(WaveInDevice& dev, Guard& guard) {
    WAVEHDR* header = dev.queue.front();
    guard.unlock();
    const FillOutcome outcome = Fill(dev, *header);
    if (outcome.end == FillEnd::Lost) {
        ClosePcm(dev);
        ReportGone(dev, outcome.err);
    }
    guard.lock();
    const bool running = dev.state == CaptureState::Running;
    if (outcome.end == FillEnd::Lost && running) SetState(dev, CaptureState::Waiting);
    // A header filled just as the device was stopped stays queued; reset gives it back.
    if (outcome.end != FillEnd::Full || !running) return;
    dev.queue.pop_front();
    SetState(dev, CaptureState::Delivering);
    Complete(dev, guard, header);
    if (dev.state == CaptureState::Delivering) SetState(dev, CaptureState::Running);
}

void RunCapture(WaveInDevice& dev) {
    Guard guard(dev.lock);
    Call(dev, guard, WIM_OPEN, nullptr);
    for (;;) {
        if (!dev.returned.empty()) {
            WAVEHDR* header = dev.returned.front();
            dev.returned.pop_front();
            Complete(dev, guard, header);
            continue;
        }
        switch (dev.state.load(std::memory_order_relaxed)) {
            case CaptureState::Closed:
                ClosePcm(dev);
                Call(dev, guard, WIM_CLOSE, nullptr);
                return;
            case CaptureState::Stopping:
                ClosePcm(dev);
                SetState(dev, CaptureState::Idle);
                break;
            case CaptureState::Idle:
                CollectOpen(dev);  // an open that ends after a stop: its PCM is closed again
                WaitForWake(dev, guard, {});
                break;
            case CaptureState::Waiting:
                // No PCM here: CollectOpen moves on to Running as soon as one comes.
                CollectOpen(dev);
                if (dev.state != CaptureState::Waiting) break;
                RequestOpenIfDue(dev, Clock::now());
                WaitForWake(dev, guard, OpenUnderway(dev) ? Clock::time_point{} : dev.nextOpen);
                break;
            case CaptureState::Running:
                if (dev.queue.empty()) {
                    WaitForWake(dev, guard, {});
                } else {
                    CaptureOne(dev, guard);
                }
                break;
            case CaptureState::Delivering:
                // Never seen here: CaptureOne leaves it before it returns.
                break;
        }
    }
}

// Stops deliveries and waits until the capture thread is out of its read loop and out of the
// routine: from then on it touches no header until the device is started again. From inside the
// routine there is nothing to wait for.
void QuiesceLocked(WaveInDevice& dev, Guard& guard) {
    const CaptureState state = dev.state;
    if (state == CaptureState::Waiting) {
        SetState(dev, CaptureState::Idle);
    } else if (state == CaptureState::Running || state == CaptureState::Delivering) {
        SetState(dev, CaptureState::Stopping);
    }
    Wake(dev.wakeFd);
    if (OnCaptureThread(dev)) return;
    dev.changed.wait(guard, [&] { return dev.state != CaptureState::Stopping; });
}

// Gives every queued header back as it is (partly filled or empty); the capture thread hands each
// to the routine with one more WIM_DATA, as winmm does.
void GiveBackQueuedLocked(WaveInDevice& dev) {
    while (!dev.queue.empty() && !dev.returned.full()) {
        dev.returned.push_back(dev.queue.front());
        dev.queue.pop_front();
    }
    Wake(dev.wakeFd);
}

}  // namespace

MMRESULT waveInOpen(HWAVEIN* device, UINT, const WAVEFORMATEX* format, DWORD_PTR callback,
                    DWORD_PTR instance, DWORD flags) {
    *device = nullptr;
    if (flags != CALLBACK_FUNCTION || callback == 0) return MMSYSERR_INVALPARAM;
    if (format->wFormatTag != WAVE_FORMAT_PCM || format->wBitsPerSample != 16 ||
        format->nChannels == 0 || format->nSamplesPerSec == 0) {
        return WAVERR_BADFORMAT;
    }

    snd_lib_error_set_handler(QuietAlsaError);
    const int wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    const int notifyFd = wakeFd < 0 ? -1 : fcntl(wakeFd, F_DUPFD_CLOEXEC, 0);
    if (notifyFd < 0) {
        std::perror("vorlank: audio input wake-up descriptor");
        if (wakeFd >= 0) close(wakeFd);
        return MMSYSERR_NOMEM;
    }
    auto* dev = new WaveInDevice;
    dev->routine = reinterpret_cast<WaveInProc>(callback);
    dev->instance = instance;
    dev->format = *format;
    dev->frameBytes = kBytesPerSample * format->nChannels;
    dev->wakeFd = wakeFd;
    dev->worker = new PcmWorker;
    dev->worker->format = *format;
    dev->worker->notifyFd = notifyFd;
    dev->worker->thread = std::thread(RunWorker, dev->worker);
    // The device is first opened when capture starts (Idle -> Waiting), at once.
    dev->thread = std::thread(RunCapture, std::ref(*dev));
    *device = dev;
    return MMSYSERR_NOERROR;
}

MMRESULT waveInPrepareHeader(HWAVEIN device, WAVEHDR* header, UINT) {
    if (device == nullptr) return MMSYSERR_INVALHANDLE;
    if (header == nullptr || header->lpData == nullptr) return MMSYSERR_INVALPARAM;
    const Guard guard(device->lock);
    header->dwFlags |= WHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT waveInUnprepareHeader(HWAVEIN device, WAVEHDR* header, UINT) {
    if (device == nullptr) return MMSYSERR_INVALHANDLE;
    const Guard guard(device->lock);
    if (header->dwFlags & WHDR_INQUEUE) return WAVERR_STILLPLAYING;
    header->dwFlags &= ~WHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT waveInAddBuffer(HWAVEIN device, WAVEHDR* header, UINT) {
    if (device == nullptr) return MMSYSERR_INVALHANDLE;
    const Guard guard(device->lock);
    if ((header->dwFlags & WHDR_PREPARED) == 0) return WAVERR_UNPREPARED;
    if ((header->dwFlags & WHDR_INQUEUE) != 0 || device->state == CaptureState::Closed) {
        return MMSYSERR_INVALPARAM;
    }
    if (device->queue.full() || device->returned.full()) return MMSYSERR_NOMEM;
    header->dwFlags = (header->dwFlags & ~WHDR_DONE) | WHDR_INQUEUE;
    header->dwBytesRecorded = 0;
    device->queue.push_back(header);
    // From inside the routine the thread looks at the queue anyway once the routine returns.
    if (!OnCaptureThread(*device)) Wake(device->wakeFd);
    return MMSYSERR_NOERROR;
}

MMRESULT waveInStart(HWAVEIN device) {
    if (device == nullptr) return MMSYSERR_INVALHANDLE;
    const Guard guard(device->lock);
    if (device->state == CaptureState::Idle) {
        SetState(*device, CaptureState::Waiting);
        Wake(device->wakeFd);
    }
    return MMSYSERR_NOERROR;
}

MMRESULT waveInStop(HWAVEIN device) {
    if (device == nullptr) return MMSYSERR_INVALHANDLE;
    Guard guard(device->lock);
    QuiesceLocked(*device, guard);
    return MMSYSERR_NOERROR;
}

MMRESULT waveInReset(HWAVEIN device) {
    if (device == nullptr) return MMSYSERR_INVALHANDLE;
    Guard guard(device->lock);
    QuiesceLocked(*device, guard);
    GiveBackQueuedLocked(*device);
    return MMSYSERR_NOERROR;
}

MMRESULT waveInClose(HWAVEIN device) {
    if (device == nullptr) return MMSYSERR_INVALHANDLE;
    {
        Guard guard(device->lock);
        QuiesceLocked(*device, guard);
        SetState(*device, CaptureState::Closed);
        GiveBackQueuedLocked(*device);
    }
    // The thread completes what was given back, sends WIM_CLOSE and ends; only then is the
    // routine certain never to run again. The worker then closes what it was handed, or is left
    // behind if a call into the sound system hangs.
    device->thread.join();
    EndWorker(device->worker);
    close(device->wakeFd);
    delete device;
    return MMSYSERR_NOERROR;
}

}  // namespace wave
