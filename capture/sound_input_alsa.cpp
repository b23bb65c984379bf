// The sound input over ALSA, on the "default" capture device (see sound_input.h).
//
// One thread per input does all of it: it opens the device, reads periods of 512 samples into
// one block and hands the block to the sink each time it is full. The PCM is opened non-blocking
// and the thread waits in poll() on the PCM's descriptors plus an eventfd that StopSoundInput
// writes: a read through the PulseAudio or PipeWire plugin may otherwise never return when no
// sound arrives, and stopping must never hang.
//
// While there is no device the thread tries to open it about once a second; when capture fails
// (-ENODEV, -EIO, -EBADFD, an overrun that recurs before a single sample could be read) it closes
// the PCM and goes back to that. Opening, closing and restarting a PCM may wait on a sound server
// without a time limit (one that accepts the connection but does not answer), so StopSoundInput
// gives a thread inside such a call only a short grace, then lets it go (see CaptureState).
//
// Besides the lines of sound_input.h, a device that opens but refuses the format is reported
// once while it is away, in one of two lines:
//   vorlank: audio input "default" does not take 1-channel 16-bit samples at 44100 Hz: REASON
//   vorlank: audio input "default" runs at N Hz, not 44100 Hz; nothing is captured
#include <alsa/asoundlib.h>
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
#include <utility>

#include "capture/arrival_clock.h"
#include "capture/sound_input.h"
#include "common/shared_types.h"
#include "common/signal_format.h"

namespace {

constexpr const char* kDeviceName = "default";
constexpr unsigned kRateHz = common::kSampleRateHz;
constexpr unsigned kChannels = 1;
constexpr unsigned kFrameBytes = 2;  // S16_LE, mono
// One period is one block of the sink's; eight periods (about 93 ms) of ring buffer give the
// sink slack before an overrun.
constexpr snd_pcm_uframes_t kPeriodFrames = kSoundBlockBytes / kFrameBytes;
constexpr snd_pcm_uframes_t kRingPeriods = 8;
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
// How long StopSoundInput waits for the thread to finish a call into the sound system.
constexpr auto kStopGrace = std::chrono::milliseconds(100);

using Clock = std::chrono::steady_clock;
using Seconds = std::chrono::duration<double>;
using Guard = std::unique_lock<std::mutex>;

// Why an open did not give a usable PCM. Each kind is reported once while the device is away.
enum class OpenFailure : unsigned {
    None = 0,
    NoDevice = 1,   // snd_pcm_open failed: no such device, no server
    NoFormat = 2,   // the device refuses mono 16-bit samples at the rate
    WrongRate = 4,  // the device offers only a neighbouring rate
};

struct OpenResult {
    snd_pcm_t* pcm = nullptr;  // configured and started; null when the open failed
    OpenFailure failure = OpenFailure::None;
    int err = 0;               // ALSA's reason (NoDevice, NoFormat)
    unsigned grantedRate = 0;  // WrongRate: the rate the device offers
};

}  // namespace

// What the input's thread is doing. Transitions:
//   Waiting  -> Running    thread: an open gave a running PCM (after a reported failure, with
//                          the "open" or "back" line)
//   Running  -> Waiting    thread: the device failed ("gone" line); the PCM is closed, and an
//                          open is tried about once a second
//   Waiting, Running -> Stopping   StopSoundInput
//   Stopping -> Ended      thread: its PCM closed, it ends; StopSoundInput joins it
//   Stopping -> Abandoned  StopSoundInput: the thread has been inside a call into the sound
//                          system for longer than the grace; it is let go, and when the call
//                          returns it closes what it holds, frees the record and ends
enum class CaptureState { Waiting, Running, Stopping, Ended, Abandoned };

struct SoundInputDevice {
    // Fixed from start to stop.
    SampleSink sink;
    int wakeFd = -1;  // eventfd: makes the thread's poll() return
    std::thread thread;

    // Guarded by `lock` where StopSoundInput waits on them; the thread also reads `state` without
    // the lock while it reads samples, to see a stop at once.
    std::mutex lock;
    std::condition_variable changed;
    std::atomic<CaptureState> state{CaptureState::Waiting};
    bool inSoundSystem = false;     // the thread is inside a call that may wait on a sound server
    Clock::time_point enteredAt{};  // when it went into the latest such call

    // Private to the thread.
    snd_pcm_t* pcm = nullptr;
    unsigned pcmFds = 0;  // the PCM's descriptors at the start of pollFds; the wake-up follows
    std::array<pollfd, kMaxPollFds + 1> pollFds{};
    std::array<char, kSoundBlockBytes> block{};
    snd_pcm_uframes_t filled = 0;  // frames of `block` read so far
    ArrivalClock arrivals;
    uint64_t framesArrived = 0;    // read since the PCM (re)started, as the arrival clock counts
    Clock::time_point lastRead{};  // the latest read that returned samples, or the (re)start
    Clock::time_point nextOpen{};  // when the next attempt to open is due
    // OpenFailure bits reported since the device was last open; the next open says so.
    unsigned reported = 0;
    bool everOpen = false;
};

namespace {

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

bool StillRunning(const SoundInputDevice& dev) {
    return dev.state.load(std::memory_order_acquire) == CaptureState::Running;
}

// The thread's own moves (Waiting <-> Running); a stop that came first wins.
void Move(SoundInputDevice& dev, CaptureState from, CaptureState to) {
    dev.state.compare_exchange_strong(from, to, std::memory_order_acq_rel);
}

// Around every call that may wait on a sound server: while the thread is inside one, a stop waits
// for it no longer than the grace. Leaving returns false when the input was abandoned meanwhile.
void EnterSoundSystem(SoundInputDevice& dev) {
    const Guard guard(dev.lock);
    dev.inSoundSystem = true;
    dev.enteredAt = Clock::now();
    dev.changed.notify_all();
}

bool LeaveSoundSystem(SoundInputDevice& dev) {
    const Guard guard(dev.lock);
    dev.inSoundSystem = false;
    return dev.state != CaptureState::Abandoned;
}

// ---- Opening and closing ----

// Configures S16_LE mono at 44 100 Hz, period 512 frames, a ring of at least two periods, and
// checks what the device granted. Setting the hardware parameters also prepares the PCM, which is
// where a sound server's plugin connects its stream.
OpenResult Configure(snd_pcm_t* pcm) {
    snd_pcm_hw_params_t* hw = nullptr;
    snd_pcm_hw_params_alloca(&hw);
    unsigned rate = kRateHz;
    snd_pcm_uframes_t period = kPeriodFrames;
    snd_pcm_uframes_t ring = kPeriodFrames * kRingPeriods;
    snd_pcm_uframes_t minRing = 2 * kPeriodFrames;
    int err = snd_pcm_hw_params_any(pcm, hw);
    if (err >= 0) err = snd_pcm_hw_params_set_access(pcm, hw, SND_PCM_ACCESS_RW_INTERLEAVED);
    if (err >= 0) err = snd_pcm_hw_params_set_format(pcm, hw, SND_PCM_FORMAT_S16_LE);
    if (err >= 0) err = snd_pcm_hw_params_set_channels(pcm, hw, kChannels);
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
    if (granted != kRateHz || dir != 0) {
        return OpenResult{nullptr, OpenFailure::WrongRate, 0, granted};
    }
    if (static_cast<size_t>(snd_pcm_poll_descriptors_count(pcm)) > kMaxPollFds) {
        return OpenResult{nullptr, OpenFailure::NoDevice, -ENOSPC, 0};
    }
    return OpenResult{pcm, OpenFailure::None, 0, granted};
}

// Opens, configures and starts the default device: a running PCM, or why not.
//
// alsa-lib's configuration is read afresh for each attempt: what "default" means may depend on
// the moment (the PulseAudio hook routes it to the server only if one was running when the
// configuration was read, and alsa-lib keeps its own copy from the first open on). A private
// copy, not alsa-lib's global one, so that the plugins it loaded stay loaded: unloading and
// loading pipewire-alsa again costs memory every time.
OpenResult OpenPcm() {
    snd_config_t* config = nullptr;
    snd_config_update_t* update = nullptr;
    snd_pcm_t* pcm = nullptr;
    int err = snd_config_update_r(&config, &update, nullptr);
    if (err >= 0) {
        err =
            snd_pcm_open_lconf(&pcm, kDeviceName, SND_PCM_STREAM_CAPTURE, SND_PCM_NONBLOCK, config);
    }
    // An open PCM keeps nothing of the configuration.
    if (config != nullptr) snd_config_delete(config);
    if (update != nullptr) snd_config_update_free(update);
    if (err < 0) return OpenResult{nullptr, OpenFailure::NoDevice, err, 0};
    OpenResult result = Configure(pcm);
    if (result.pcm != nullptr) err = snd_pcm_start(pcm);
    if (err < 0) result = OpenResult{nullptr, OpenFailure::NoDevice, err, 0};
    if (result.pcm == nullptr) snd_pcm_close(pcm);
    return result;
}

// Closes the PCM, if there is one. False when the input was abandoned meanwhile.
bool ClosePcm(SoundInputDevice& dev) {
    if (dev.pcm == nullptr) return true;
    EnterSoundSystem(dev);
    snd_pcm_close(dev.pcm);
    dev.pcm = nullptr;
    dev.pcmFds = 0;
    return LeaveSoundSystem(dev);
}

void ReportFailure(SoundInputDevice& dev, const OpenResult& result) {
    const auto kind = static_cast<unsigned>(result.failure);
    if ((dev.reported & kind) != 0) return;
    dev.reported |= kind;
    switch (result.failure) {
        case OpenFailure::NoDevice:
            std::fprintf(stderr, "vorlank: cannot open audio input \"%s\": %s\n", kDeviceName,
                         snd_strerror(result.err));
            break;
        case OpenFailure::NoFormat:
            std::fprintf(stderr,
                         "vorlank: audio input \"%s\" does not take %u-channel 16-bit samples at "
                         "%u Hz: %s\n",
                         kDeviceName, kChannels, kRateHz, snd_strerror(result.err));
            break;
        case OpenFailure::WrongRate:
            std::fprintf(
                stderr,
                "vorlank: audio input \"%s\" runs at %u Hz, not %u Hz; nothing is captured\n",
                kDeviceName, result.grantedRate, kRateHz);
            break;
        case OpenFailure::None:
            break;
    }
}

void ReportGone(SoundInputDevice& dev, int err) {
    std::fprintf(stderr, "vorlank: audio input \"%s\" is gone (%s); waiting for it to come back\n",
                 kDeviceName, snd_strerror(err));
    // The reopen attempts that fail while it is away say nothing more.
    dev.reported |= static_cast<unsigned>(OpenFailure::NoDevice);
    dev.nextOpen = Clock::now() + kReopenInterval;
}

void ReportLoss(uint64_t samples) {
    std::fprintf(stderr, "vorlank: audio input overrun, about %llu samples lost\n",
                 static_cast<unsigned long long>(samples));
}

// Samples lost without a word from ALSA: pipewire-alsa, for one, drops what the server captured
// while this process was stopped (SIGSTOP, a frozen machine) and reports no overrun. So whenever
// the thread has read everything there is, the frames read since the PCM (re)started are held
// against the clock (arrival_clock.h); this starts that count afresh, as of `now`.
void RestartArrivalCount(SoundInputDevice& dev, Clock::time_point now) {
    RestartArrivals(dev.arrivals, kRateHz, kAlsaSettleSeconds);
    dev.framesArrived = 0;
    dev.lastRead = now;
}

// Waiting: opens the device when an attempt is due, otherwise sleeps until it is or a stop wakes
// the thread. False when the input was abandoned meanwhile.
bool OpenWhenDue(SoundInputDevice& dev) {
    const Clock::time_point now = Clock::now();
    if (now < dev.nextOpen) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(dev.nextOpen - now);
        SleepUntilWoken(dev.wakeFd, static_cast<int>(left.count()));
        return true;
    }
    dev.nextOpen = now + kReopenInterval;
    EnterSoundSystem(dev);
    const OpenResult result = OpenPcm();
    dev.pcm = result.pcm;
    if (!LeaveSoundSystem(dev)) return false;
    if (result.pcm == nullptr) {
        ReportFailure(dev, result);
        return true;
    }
    dev.pcmFds = static_cast<unsigned>(snd_pcm_poll_descriptors_count(dev.pcm));
    RestartArrivalCount(dev, Clock::now());
    Move(dev, CaptureState::Waiting, CaptureState::Running);
    // A stop that came meanwhile closes the PCM again, without a word.
    if (StillRunning(dev) && dev.reported != 0) {
        std::fprintf(stderr,
                     dev.everOpen ? "vorlank: audio input \"%s\" is back; capture has resumed\n"
                                  : "vorlank: audio input \"%s\" is open; capture has started\n",
                     kDeviceName);
    }
    dev.reported = 0;
    dev.everOpen = true;
    return true;
}

// ---- Reading ----

enum class FillEnd { Full, Stopped, Lost, Abandoned };

struct FillOutcome {
    FillEnd end;
    int err;  // Lost: the reason
};

// Waits for samples or a wake-up: 1 when samples may be read, 0 when the thread is asked to stop,
// a negative errno when waiting itself failed. `backoff` is set when the previous wait said
// samples were there and the read found none: then only the wake-up is waited for, briefly.
int WaitForSamples(SoundInputDevice& dev, bool backoff) {
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

// Prepares and starts the PCM again after an overrun or a suspend; through a sound server's
// plugin this reconnects its stream. False when the input was abandoned meanwhile.
bool Restart(SoundInputDevice& dev, int& err) {
    EnterSoundSystem(dev);
    err = snd_pcm_prepare(dev.pcm);
    if (err >= 0) err = snd_pcm_start(dev.pcm);
    return LeaveSoundSystem(dev);
}

// Reads into the block until it is full, the thread is asked to stop, or the device is gone.
//
// An overrun (-EPIPE: the sink fell behind and the ring overflowed) is recovered and reported
// with an estimate of the samples lost, taken from the time since the last read, since ALSA does
// not tell. The report waits for the first samples after the recovery: pipewire-alsa answers
// every read with -EPIPE once its server has gone, and such an overrun is the device's loss, not
// a lost stretch of sound; an overrun that recurs before any sample was read counts as that.
FillOutcome Fill(SoundInputDevice& dev) {
    bool waited = false;       // the last wait said samples were there
    uint64_t overrunLoss = 0;  // an overrun's estimate, reported with the first samples after it
    while (dev.filled < kPeriodFrames) {
        if (!StillRunning(dev)) break;
        const snd_pcm_sframes_t n = snd_pcm_readi(
            dev.pcm, dev.block.data() + dev.filled * kFrameBytes, kPeriodFrames - dev.filled);
        const Clock::time_point now = Clock::now();
        if (n > 0) {
            dev.filled += static_cast<snd_pcm_uframes_t>(n);
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
            overrunLoss = static_cast<uint64_t>(std::max(1LL, std::llround(gap.count() * kRateHz)));
            if (!Restart(dev, err)) return {FillEnd::Abandoned, 0};
            RestartArrivalCount(dev, now);
        } else if (n == -ESTRPIPE) {
            // Suspended with the machine; the clock did not run meanwhile, nothing to report.
            err = snd_pcm_resume(dev.pcm);
            if (err == -EAGAIN) {
                SleepUntilWoken(dev.wakeFd, kResumeRetryMs);
                continue;
            }
            if (err < 0 && !Restart(dev, err)) return {FillEnd::Abandoned, 0};
            RestartArrivalCount(dev, now);
        } else if (n != -EINTR) {
            err = static_cast<int>(n);  // -ENODEV, -EBADFD, -EIO: the device or its server is gone
        }
        if (err < 0) return {FillEnd::Lost, err};
    }
    if (overrunLoss > 0) ReportLoss(overrunLoss);
    return {dev.filled == kPeriodFrames ? FillEnd::Full : FillEnd::Stopped, 0};
}

// Running: fills the block and hands it to the sink; when the device fails, closes it and goes
// back to Waiting. False when the input was abandoned meanwhile.
bool CaptureBlock(SoundInputDevice& dev) {
    const FillOutcome outcome = Fill(dev);
    switch (outcome.end) {
        case FillEnd::Full:
            dev.filled = 0;
            if (StillRunning(dev))
                dev.sink.take(dev.sink.context, dev.block.data(), kSoundBlockBytes);
            return true;
        case FillEnd::Stopped:
            return true;
        case FillEnd::Lost:
            ReportGone(dev, outcome.err);
            Move(dev, CaptureState::Running, CaptureState::Waiting);
            return ClosePcm(dev);
        case FillEnd::Abandoned:
            break;
    }
    return false;
}

// The input's thread. When it is abandoned nobody else knows its record any more.
void RunCapture(SoundInputDevice* dev) {
    bool kept = true;
    while (kept) {
        switch (dev->state.load(std::memory_order_acquire)) {
            case CaptureState::Waiting:
                kept = OpenWhenDue(*dev);
                break;
            case CaptureState::Running:
                kept = CaptureBlock(*dev);
                break;
            case CaptureState::Stopping:
                kept = ClosePcm(*dev);
                if (kept) {
                    const Guard guard(dev->lock);
                    dev->state = CaptureState::Ended;
                    dev->changed.notify_all();
                    return;
                }
                break;
            case CaptureState::Ended:
            case CaptureState::Abandoned:
                return;  // never seen here: the thread itself ends on the way to either
        }
    }
    if (dev->pcm != nullptr) snd_pcm_close(dev->pcm);
    close(dev->wakeFd);
    delete dev;
}

}  // namespace

void StartSoundInput(SoundInput& input) {
    common::WriteWord(*input.capturing, 1);
    snd_lib_error_set_handler(QuietAlsaError);
    const int wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wakeFd < 0) {
        std::perror("vorlank: audio input wake-up descriptor");
        return;
    }
    auto* dev = new SoundInputDevice;
    dev->sink = input.sink;
    dev->wakeFd = wakeFd;
    // The device is opened on the thread, at once.
    dev->thread = std::thread(RunCapture, dev);
    input.device = dev;
}

void StopSoundInput(SoundInput& input) {
    common::WriteWord(*input.capturing, 0);
    SoundInputDevice* dev = std::exchange(input.device, nullptr);
    if (dev == nullptr) return;
    Guard guard(dev->lock);
    const Clock::time_point stoppedAt = Clock::now();
    dev->state = CaptureState::Stopping;
    Wake(dev->wakeFd);
    // Outside the sound system the thread reads without waiting or runs the sink, so it ends
    // soon. A call into the sound system is given the grace, counted from the stop or from the
    // call's start, whichever is later; then the thread is let go.
    while (dev->state != CaptureState::Ended) {
        if (!dev->inSoundSystem) {
            dev->changed.wait(guard);
            continue;
        }
        const Clock::time_point deadline = std::max(stoppedAt, dev->enteredAt) + kStopGrace;
        if (Clock::now() >= deadline) {
            dev->state = CaptureState::Abandoned;
            dev->thread.detach();
            return;
        }
        dev->changed.wait_until(guard, deadline);
    }
    guard.unlock();
    dev->thread.join();
    close(dev->wakeFd);
    delete dev;
}
