// The sound input over ALSA's "default" capture device. One thread per input opens the device,
// reads periods of 512 samples into one block and hands the block on each time it is full. The PCM
// is non-blocking and the thread waits in poll() on it and on an eventfd that StopSoundInput
// writes: a read through the PulseAudio or PipeWire plugin may otherwise never return.
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

namespace capture {
namespace {

constexpr const char* kDeviceName = "default";
constexpr unsigned kRateHz = common::kSampleRateHz;
constexpr unsigned kChannels = 1;
// S16_LE, mono.
constexpr unsigned kFrameBytes = 2;
// One period is one block of the sink's; eight periods (about 93 ms) of ring buffer give the
// sink slack before an overrun.
constexpr snd_pcm_uframes_t kPeriodFrames = kSoundBlockBytes / kFrameBytes;
constexpr snd_pcm_uframes_t kRingPeriods = 8;
// A PCM polls on one or two descriptors; room for more, so that no reopen needs memory.
constexpr size_t kMaxPollFds = 16;
// When the PCM's descriptors report data that is not there (the pulse plugin does so while its
// stream connects), the thread waits this long before reading again instead of spinning.
constexpr int kSpuriousWakeupBackoffMs = 2;
// From the start of one attempt to open to the next, so a slow failing open keeps the rhythm.
constexpr auto kReopenInterval = std::chrono::seconds(1);
// A suspended device (-ESTRPIPE) is asked to resume this often until it agrees.
constexpr int kResumeRetryMs = 100;
// How long StopSoundInput waits for the thread to finish a call into the sound system.
constexpr auto kStopGrace = std::chrono::milliseconds(100);

using Clock = std::chrono::steady_clock;
using Seconds = std::chrono::duration<double>;
using Guard = std::unique_lock<std::mutex>;

// Why an open gave no usable PCM (no device or server, the format refused, only a neighbouring
// rate). Bits: each kind is reported once while the device is away.
enum class OpenFailure : unsigned { None = 0, NoDevice = 1, NoFormat = 2, WrongRate = 4 };

struct OpenResult {
    // Configured and started; null when the open failed.
    snd_pcm_t* pcm = nullptr;
    OpenFailure failure = OpenFailure::None;
    // ALSA's reason (NoDevice, NoFormat).
    int err = 0;
    // WrongRate: the rate the device offers, in Hz.
    unsigned grantedRate = 0;
};

}  // namespace

// What the input's thread is doing. The thread moves Waiting <-> Running as the device opens and
// fails, and Stopping -> Ended once its PCM is closed; StopSoundInput moves either to Stopping,
// and Stopping -> Abandoned when the thread has been inside a call into the sound system for
// longer than the grace: the thread then cleans up after itself when the call returns.
enum class CaptureState { Waiting, Running, Stopping, Ended, Abandoned };

struct SoundInputDevice {
    SampleSink sink;
    // eventfd that makes the thread's poll() return.
    int wakeFd = -1;
    std::thread thread;

    // Guarded by `lock` where StopSoundInput waits on them; the thread also reads `state` without
    // the lock while it reads samples, to see a stop at once.
    std::mutex lock;
    std::condition_variable changed;
    std::atomic<CaptureState> state{CaptureState::Waiting};
    // The thread is inside a call that may wait on a sound server, since `enteredAt`.
    bool inSoundSystem = false;
    Clock::time_point enteredAt{};

    // Private to the thread.
    snd_pcm_t* pcm = nullptr;
    // The PCM's descriptors, at the start of pollFds; the wake-up follows them.
    unsigned pcmFds = 0;
    std::array<pollfd, kMaxPollFds + 1> pollFds{};
    std::array<char, kSoundBlockBytes> block{};
    // Frames of `block` read so far.
    snd_pcm_uframes_t filled = 0;
    ArrivalClock arrivals;
    // Frames read since the PCM (re)started, as the arrival clock counts them.
    uint64_t framesArrived = 0;
    // The latest read that returned samples, or the (re)start.
    Clock::time_point lastRead{};
    Clock::time_point nextOpen{};
    // OpenFailure bits reported since the device was last open; the next open says so.
    unsigned reported = 0;
    bool everOpen = false;
};

namespace {

// alsa-lib's own diagnostics take several lines for one missing device; ours take one.
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

// Opens, configures and starts the default device: a running PCM, or why not. The configuration
// is read afresh each time, since what "default" means depends on the moment (the PulseAudio hook
// routes to a server only if one ran at reading time); into a private copy, so that the plugins
// stay loaded (reloading pipewire-alsa costs memory every time).
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
    if (result.failure == OpenFailure::NoDevice) {
        std::fprintf(stderr, kCaptureTexts.cannotOpen, kDeviceName, snd_strerror(result.err));
    } else if (result.failure == OpenFailure::NoFormat) {
        std::fprintf(stderr, kCaptureTexts.noFormat, kDeviceName, kChannels, kRateHz,
                     snd_strerror(result.err));
    } else if (result.failure == OpenFailure::WrongRate) {
        std::fprintf(stderr, kCaptureTexts.wrongRate, kDeviceName, result.grantedRate, kRateHz);
    }
}

void ReportLoss(uint64_t samples) {
    std::fprintf(stderr, kCaptureTexts.overrun, static_cast<unsigned long long>(samples));
}

// pipewire-alsa drops what its server captured while this process was stopped, without a word,
// so whenever everything there is has been read the frames are held against the clock
// (arrival_clock.h). This starts that count afresh, as of `now`.
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
        std::fprintf(stderr, dev.everOpen ? kCaptureTexts.back : kCaptureTexts.opened, kDeviceName);
    }
    dev.reported = 0;
    dev.everOpen = true;
    return true;
}

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

// After an overrun or a suspend (through a server's plugin this reconnects its stream). False
// when the input was abandoned meanwhile.
bool Restart(SoundInputDevice& dev, int& err) {
    EnterSoundSystem(dev);
    err = snd_pcm_prepare(dev.pcm);
    if (err >= 0) err = snd_pcm_start(dev.pcm);
    return LeaveSoundSystem(dev);
}

// Running, the device failed for good: says so, closes it and goes back to Waiting, where the
// reopen attempts that fail while it is away say nothing more. False when the input was abandoned
// meanwhile.
bool LoseDevice(SoundInputDevice& dev, int err) {
    std::fprintf(stderr, kCaptureTexts.gone, kDeviceName, snd_strerror(err));
    dev.reported |= static_cast<unsigned>(OpenFailure::NoDevice);
    dev.nextOpen = Clock::now() + kReopenInterval;
    Move(dev, CaptureState::Running, CaptureState::Waiting);
    return ClosePcm(dev);
}

// Running: reads into the block until it is full and hands it to the sink, or until the thread is
// asked to stop or the device is lost. An overrun's loss is estimated from the time since the last
// read, as ALSA does not tell, and said only once samples follow: pipewire-alsa answers every read
// with -EPIPE once its server has gone, so an overrun that recurs before any sample was read is
// the device's loss. False when the input was abandoned meanwhile.
bool CaptureBlock(SoundInputDevice& dev) {
    // The last wait said samples were there.
    bool waited = false;
    // An overrun's estimate in samples, reported with the first samples after it.
    uint64_t overrunLoss = 0;
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
            if (overrunLoss > 0) return LoseDevice(dev, -EPIPE);
            const Seconds gap = now - dev.lastRead;
            overrunLoss = static_cast<uint64_t>(std::max(1LL, std::llround(gap.count() * kRateHz)));
            if (!Restart(dev, err)) return false;
            RestartArrivalCount(dev, now);
        } else if (n == -ESTRPIPE) {
            // Suspended with the machine; the clock did not run meanwhile, nothing to report.
            err = snd_pcm_resume(dev.pcm);
            if (err == -EAGAIN) {
                SleepUntilWoken(dev.wakeFd, kResumeRetryMs);
                continue;
            }
            if (err < 0 && !Restart(dev, err)) return false;
            RestartArrivalCount(dev, now);
        } else if (n != -EINTR) {
            // -ENODEV, -EBADFD, -EIO: the device or its server is gone.
            err = static_cast<int>(n);
        }
        if (err < 0) return LoseDevice(dev, err);
    }
    if (overrunLoss > 0) ReportLoss(overrunLoss);
    if (dev.filled == kPeriodFrames) {
        dev.filled = 0;
        if (StillRunning(dev)) dev.sink.take(dev.sink.context, dev.block.data(), kSoundBlockBytes);
    }
    return true;
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
        std::perror(kCaptureTexts.noWakeup);
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

}  // namespace capture
