// The wave-input functions over ALSA, on the "default" capture device: the same calls and the
// same completion contract as winmm (see wave_in.h), so the capture stream is one piece of code.
//
// One capture thread per open device fills the queued headers in queue order. A header is filled
// to the last byte (short reads are continued) and then handed to the completion routine with
// WIM_DATA; the routine may queue it again from there. The PCM is opened non-blocking and the
// thread waits in poll() on the PCM's descriptors plus an eventfd, which waveInStop, waveInReset
// and waveInClose write: a read through the PulseAudio or PipeWire plugin may otherwise never
// return when no sound arrives, and stopping must never hang.
//
// Problems are reported on stderr only; standard output belongs to the tool's status lines.
//   - the device cannot be opened or does not take the format: one line naming the device and
//     ALSA's reason; waveInOpen fails and the tool runs on without samples;
//   - an overrun (the completion routine fell behind): the stream is recovered and restarted,
//     with one line giving an estimate of the samples lost;
//   - the device vanishes: one line, and capture ends; the queued buffers stay queued until
//     waveInReset or waveInClose gives them back.
//
// Stopping follows wave_in.h: waveInStop, waveInReset and waveInClose first wait until the thread
// is out of its read loop and out of the routine; reset and close then give the queued headers
// back through the thread, one WIM_DATA each.
#include <alsa/asoundlib.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>
#include <vector>

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
// When the PCM's descriptors report data that is not there (the pulse plugin does so for a second
// or two while its stream connects), the thread waits this long for a wake-up before reading
// again, instead of spinning on poll().
constexpr int kSpuriousWakeupBackoffMs = 2;

using Clock = std::chrono::steady_clock;

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

}  // namespace

struct WaveInDevice {
    snd_pcm_t* pcm = nullptr;
    unsigned rate = 0;
    unsigned frameBytes = 0;
    int wakeFd = -1;              // eventfd: makes the capture thread's poll() return
    std::vector<pollfd> pollFds;  // the PCM's descriptors, then wakeFd; sized once at open
    WaveInProc routine = nullptr;
    DWORD_PTR instance = 0;
    std::thread thread;

    // Shared between the caller's threads and the capture thread; guarded by `lock`.
    std::mutex lock;
    std::condition_variable changed;
    HeaderQueue queue;     // waiting to be filled, oldest first; the front may be filling
    HeaderQueue returned;  // given back by reset or close, their WIM_DATA still to come
    bool started = false;
    bool closing = false;
    bool filling = false;    // the capture thread is reading into queue.front()
    bool inRoutine = false;  // the capture thread is running the routine for a filled buffer
    bool lost = false;       // the device vanished; nothing more is read

    // Private to the capture thread.
    bool running = false;  // the PCM has been started and not dropped since
    Clock::time_point lastRead{};
};

namespace {

using Guard = std::unique_lock<std::mutex>;

enum class FillEnd { Full, Stopped, Lost };

// Configures S16_LE at the format's channel count and rate, period 512 frames, a ring of at
// least two periods, and checks what the device granted.
bool Configure(WaveInDevice& dev, const WAVEFORMATEX& format) {
    snd_pcm_hw_params_t* hw = nullptr;
    snd_pcm_hw_params_alloca(&hw);
    unsigned rate = format.nSamplesPerSec;
    snd_pcm_uframes_t period = kPeriodFrames;
    snd_pcm_uframes_t ring = kPeriodFrames * kRingPeriods;
    snd_pcm_uframes_t minRing = 2 * kPeriodFrames;
    int err = snd_pcm_hw_params_any(dev.pcm, hw);
    if (err >= 0) err = snd_pcm_hw_params_set_access(dev.pcm, hw, SND_PCM_ACCESS_RW_INTERLEAVED);
    if (err >= 0) err = snd_pcm_hw_params_set_format(dev.pcm, hw, SND_PCM_FORMAT_S16_LE);
    if (err >= 0) err = snd_pcm_hw_params_set_channels(dev.pcm, hw, format.nChannels);
    if (err >= 0) err = snd_pcm_hw_params_set_rate_near(dev.pcm, hw, &rate, nullptr);
    if (err >= 0) err = snd_pcm_hw_params_set_period_size_near(dev.pcm, hw, &period, nullptr);
    if (err >= 0) err = snd_pcm_hw_params_set_buffer_size_min(dev.pcm, hw, &minRing);
    if (err >= 0) err = snd_pcm_hw_params_set_buffer_size_near(dev.pcm, hw, &ring);
    if (err >= 0) err = snd_pcm_hw_params(dev.pcm, hw);
    if (err < 0) {
        std::fprintf(
            stderr,
            "vorlank: audio input \"%s\" does not take %u-channel 16-bit samples at %u Hz: %s\n",
            kDeviceName, format.nChannels, format.nSamplesPerSec, snd_strerror(err));
        return false;
    }
    // A device may grant a neighbouring rate; decoding bit cells at the wrong rate would give
    // wrong results without any sign, so anything but the exact rate is refused.
    unsigned granted = 0;
    int dir = 0;
    snd_pcm_hw_params_get_rate(hw, &granted, &dir);
    if (granted != format.nSamplesPerSec || dir != 0) {
        std::fprintf(stderr,
                     "vorlank: audio input \"%s\" runs at %u Hz, not %u Hz; nothing is captured\n",
                     kDeviceName, granted, format.nSamplesPerSec);
        return false;
    }
    dev.rate = granted;
    dev.frameBytes = kBytesPerSample * format.nChannels;
    return true;
}

// alsa-lib prints its own diagnostics to stderr by default, several lines for one missing device;
// each failure here is reported once, in one line of ours, instead.
void QuietAlsaError(const char*, int, const char*, int, const char*, ...) {}

// Wakes the capture thread out of poll() so that it notices a stop, reset or close.
void Wake(WaveInDevice& dev) {
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = write(dev.wakeFd, &one, sizeof one);
}

// Stops deliveries and waits until the capture thread is out of its read loop and out of the
// routine: from then on it touches no header until the device is started again. From inside the
// routine there is nothing to wait for.
void QuiesceLocked(WaveInDevice& dev, Guard& guard) {
    dev.started = false;
    Wake(dev);
    if (std::this_thread::get_id() == dev.thread.get_id()) return;
    dev.changed.wait(guard, [&] { return !dev.filling && !dev.inRoutine; });
}

// Gives every queued header back as it is (partly filled or empty); the capture thread hands each
// to the routine with one more WIM_DATA, as winmm does.
void GiveBackQueuedLocked(WaveInDevice& dev) {
    while (!dev.queue.empty() && !dev.returned.full()) {
        dev.returned.push_back(dev.queue.front());
        dev.queue.pop_front();
    }
    dev.changed.notify_all();
}

void Call(WaveInDevice& dev, Guard& guard, UINT message, WAVEHDR* header) {
    guard.unlock();
    dev.routine(&dev, message, dev.instance, reinterpret_cast<DWORD_PTR>(header), 0);
    guard.lock();
}

void Complete(WaveInDevice& dev, Guard& guard, WAVEHDR* header) {
    header->dwFlags = (header->dwFlags & ~WHDR_INQUEUE) | WHDR_DONE;
    dev.inRoutine = true;
    Call(dev, guard, WIM_DATA, header);
    dev.inRoutine = false;
    dev.changed.notify_all();
}

bool StillWanted(WaveInDevice& dev) {
    Guard guard(dev.lock);
    return dev.started && !dev.closing;
}

int StartPcm(WaveInDevice& dev) {
    int err = snd_pcm_prepare(dev.pcm);
    if (err >= 0) err = snd_pcm_start(dev.pcm);
    dev.running = err >= 0;
    dev.lastRead = Clock::now();
    return err;
}

void ReportLost(int err) {
    std::fprintf(stderr, "vorlank: audio input \"%s\" is gone (%s); capture has ended\n",
                 kDeviceName, snd_strerror(err));
}

// The completion routine did not keep up and the ring overflowed. ALSA does not tell how much was
// dropped, so the gap is estimated from the time since the last successful read. A stream that
// cannot be restarted is reported as gone instead (a vanished server also shows up as -EPIPE).
int RecoverOverrun(WaveInDevice& dev) {
    int err = snd_pcm_recover(dev.pcm, -EPIPE, 1);
    if (err >= 0) err = snd_pcm_start(dev.pcm);
    if (err < 0) return err;
    const std::chrono::duration<double> gap = Clock::now() - dev.lastRead;
    dev.lastRead = Clock::now();
    std::fprintf(stderr, "vorlank: audio input overrun, about %ld samples lost\n",
                 std::lround(gap.count() * dev.rate));
    return 0;
}

// Waits for samples or a wake-up: 1 when samples may be read, 0 when the thread is asked to stop,
// a negative errno when waiting itself failed. `backoff` is set when the previous wait said
// samples were there and the read found none: then only the wake-up is waited for, briefly.
int WaitForSamples(WaveInDevice& dev, bool backoff) {
    std::vector<pollfd>& fds = dev.pollFds;
    const auto pcmCount = static_cast<unsigned>(fds.size() - 1);
    snd_pcm_poll_descriptors(dev.pcm, fds.data(), pcmCount);
    fds.back() = pollfd{dev.wakeFd, POLLIN, 0};
    const int ready =
        backoff ? poll(&fds.back(), 1, kSpuriousWakeupBackoffMs) : poll(fds.data(), fds.size(), -1);
    if (ready < 0) return errno == EINTR ? 1 : -errno;
    if (fds.back().revents & POLLIN) {
        uint64_t count = 0;
        [[maybe_unused]] const ssize_t got = read(dev.wakeFd, &count, sizeof count);
        if (!StillWanted(dev)) return 0;
    }
    if (backoff) return 1;
    // Plugins such as pulse do their bookkeeping here; an error shows up in the next read.
    unsigned short revents = 0;
    snd_pcm_poll_descriptors_revents(dev.pcm, fds.data(), pcmCount, &revents);
    return 1;
}

// Reads into `header` until it is full, the thread is asked to stop, or the device is gone.
FillEnd Fill(WaveInDevice& dev, WAVEHDR& header) {
    const snd_pcm_uframes_t total = header.dwBufferLength / dev.frameBytes;
    snd_pcm_uframes_t got = header.dwBytesRecorded / dev.frameBytes;
    if (!dev.running) {
        const int err = StartPcm(dev);
        if (err < 0) {
            ReportLost(err);
            return FillEnd::Lost;
        }
    }
    bool waited = false;  // the last wait said samples were there
    while (got < total) {
        const snd_pcm_sframes_t n =
            snd_pcm_readi(dev.pcm, header.lpData + got * dev.frameBytes, total - got);
        int err = 0;
        if (n > 0) {
            got += static_cast<snd_pcm_uframes_t>(n);
            header.dwBytesRecorded = static_cast<DWORD>(got * dev.frameBytes);
            dev.lastRead = Clock::now();
            waited = false;
            continue;
        }
        if (n == 0 || n == -EAGAIN) {
            err = WaitForSamples(dev, waited);
            if (err == 0) return FillEnd::Stopped;
            // After a brief back-off the descriptors are waited on again.
            waited = !waited;
        } else if (n == -EPIPE) {
            err = RecoverOverrun(dev);
        } else if (n == -ESTRPIPE || n == -EINTR) {
            err = snd_pcm_recover(dev.pcm, static_cast<int>(n), 1);
            if (err >= 0) err = StartPcm(dev);
        } else {
            err = static_cast<int>(n);  // -ENODEV, -EBADFD, -EIO: the device or its server is gone
        }
        if (err < 0) {
            ReportLost(err);
            return FillEnd::Lost;
        }
    }
    return FillEnd::Full;
}

void CaptureThread(WaveInDevice& dev) {
    Guard guard(dev.lock);
    Call(dev, guard, WIM_OPEN, nullptr);
    for (;;) {
        dev.changed.wait(guard, [&] {
            return dev.closing || !dev.returned.empty() ||
                   (dev.started && !dev.lost && !dev.queue.empty());
        });
        if (!dev.returned.empty()) {
            WAVEHDR* header = dev.returned.front();
            dev.returned.pop_front();
            Complete(dev, guard, header);
            continue;
        }
        if (dev.closing) break;

        WAVEHDR* header = dev.queue.front();
        dev.filling = true;
        guard.unlock();
        const FillEnd end = Fill(dev, *header);
        if (end != FillEnd::Full && dev.running) {
            snd_pcm_drop(dev.pcm);
            dev.running = false;
        }
        guard.lock();
        dev.filling = false;
        dev.changed.notify_all();
        if (end == FillEnd::Lost) dev.lost = true;
        // A buffer filled just as the device was stopped stays queued; reset gives it back.
        if (end == FillEnd::Full && dev.started && !dev.closing) {
            dev.queue.pop_front();
            Complete(dev, guard, header);
        }
    }
    Call(dev, guard, WIM_CLOSE, nullptr);
}

}  // namespace

MMRESULT waveInOpen(HWAVEIN* device, UINT, const WAVEFORMATEX* format, DWORD_PTR callback,
                    DWORD_PTR instance, DWORD flags) {
    *device = nullptr;
    if (flags != CALLBACK_FUNCTION || callback == 0) return MMSYSERR_INVALPARAM;
    if (format->wFormatTag != WAVE_FORMAT_PCM || format->wBitsPerSample != 16 ||
        format->nChannels == 0) {
        return WAVERR_BADFORMAT;
    }

    snd_lib_error_set_handler(QuietAlsaError);
    auto* dev = new WaveInDevice;
    int err = snd_pcm_open(&dev->pcm, kDeviceName, SND_PCM_STREAM_CAPTURE, SND_PCM_NONBLOCK);
    if (err < 0) {
        std::fprintf(stderr, "vorlank: cannot open audio input \"%s\": %s\n", kDeviceName,
                     snd_strerror(err));
        delete dev;
        return MMSYSERR_BADDEVICEID;
    }
    if (!Configure(*dev, *format)) {
        snd_pcm_close(dev->pcm);
        delete dev;
        return WAVERR_BADFORMAT;
    }
    dev->pollFds.resize(static_cast<size_t>(snd_pcm_poll_descriptors_count(dev->pcm)) + 1);
    dev->wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (dev->wakeFd < 0) {
        std::perror("vorlank: audio input wake-up descriptor");
        snd_pcm_close(dev->pcm);
        delete dev;
        return MMSYSERR_NOMEM;
    }
    dev->routine = reinterpret_cast<WaveInProc>(callback);
    dev->instance = instance;
    dev->thread = std::thread(CaptureThread, std::ref(*dev));
    *device = dev;
    return MMSYSERR_NOERROR;
}

MMRESULT waveInPrepareHeader(HWAVEIN device, WAVEHDR* header, UINT) {
    if (device == nullptr) return MMSYSERR_INVALHANDLE;
    if (header == nullptr || header->lpData == nullptr) return MMSYSERR_INVALPARAM;
    Guard guard(device->lock);
    header->dwFlags |= WHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT waveInUnprepareHeader(HWAVEIN device, WAVEHDR* header, UINT) {
    if (device == nullptr) return MMSYSERR_INVALHANDLE;
    Guard guard(device->lock);
    if (header->dwFlags & WHDR_INQUEUE) return WAVERR_STILLPLAYING;
    header->dwFlags &= ~WHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT waveInAddBuffer(HWAVEIN device, WAVEHDR* header, UINT) {
    if (device == nullptr) return MMSYSERR_INVALHANDLE;
    Guard guard(device->lock);
    if ((header->dwFlags & WHDR_PREPARED) == 0) return WAVERR_UNPREPARED;
    if ((header->dwFlags & WHDR_INQUEUE) != 0 || device->closing) return MMSYSERR_INVALPARAM;
    if (device->queue.full() || device->returned.full()) return MMSYSERR_NOMEM;
    header->dwFlags = (header->dwFlags & ~WHDR_DONE) | WHDR_INQUEUE;
    header->dwBytesRecorded = 0;
    device->queue.push_back(header);
    device->changed.notify_all();
    return MMSYSERR_NOERROR;
}

MMRESULT waveInStart(HWAVEIN device) {
    if (device == nullptr) return MMSYSERR_INVALHANDLE;
    Guard guard(device->lock);
    device->started = true;
    device->changed.notify_all();
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
        device->closing = true;
        GiveBackQueuedLocked(*device);
    }
    // The thread completes what was given back, sends WIM_CLOSE and ends; only then is the PCM
    // closed and the routine certain never to run again.
    device->thread.join();
    if (device->running) snd_pcm_drop(device->pcm);
    snd_pcm_close(device->pcm);
    close(device->wakeFd);
    delete device;
    return MMSYSERR_NOERROR;
}

}  // namespace wave
