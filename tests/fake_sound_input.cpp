// A sound input without a sound system, for tests of the app's whole wiring: it plays the raw
// signed 16-bit mono samples of the file VORLANK_FAKE_INPUT into the sink, block by block, paced
// at VORLANK_FAKE_SPEED times real time (default 1), then silence until it is stopped. A missing
// or unreadable file is said once on stderr and gives silence from the start.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <utility>

#include "capture/sound_input.h"
#include "common/shared_types.h"
#include "common/signal_format.h"

namespace capture {

struct SoundInputDevice {
    SampleSink sink;
    // Null once the file has ended (or when there was none): blocks of zeros from then on.
    std::FILE* file = nullptr;
    // Multiple of real time the blocks are handed over at.
    double speed = 1.0;
    std::atomic<bool> stop{false};
    std::thread thread;
};

namespace {

void PlayFile(SoundInputDevice* dev) {
    using Clock = std::chrono::steady_clock;
    // Two bytes a sample.
    constexpr double kBlockSeconds =
        static_cast<double>(kSoundBlockBytes) / 2.0 / static_cast<double>(common::kSampleRateHz);
    const auto period = std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(kBlockSeconds / dev->speed));
    auto due = Clock::now();
    uint8_t block[kSoundBlockBytes];
    // The stop is checked between blocks only, so the sink is never running when the thread ends.
    while (!dev->stop.load()) {
        size_t got = 0;
        if (dev->file != nullptr) got = std::fread(block, 1, sizeof block, dev->file);
        if (got < sizeof block && dev->file != nullptr) {
            std::fclose(dev->file);
            dev->file = nullptr;
        }
        std::memset(block + got, 0, sizeof block - got);
        dev->sink.take(dev->sink.context, block, kSoundBlockBytes);
        due += period;
        std::this_thread::sleep_until(due);
    }
    if (dev->file != nullptr) std::fclose(dev->file);
}

}  // namespace

void StartSoundInput(SoundInput& input) {
    common::WriteWord(*input.capturing, 1);
    auto* dev = new SoundInputDevice;
    dev->sink = input.sink;
    const char* path = std::getenv("VORLANK_FAKE_INPUT");
    if (path != nullptr) dev->file = std::fopen(path, "rb");
    if (dev->file == nullptr) {
        std::fprintf(stderr, "fake sound input: cannot read \"%s\"; giving silence\n",
                     path != nullptr ? path : "(VORLANK_FAKE_INPUT unset)");
    }
    const char* speed = std::getenv("VORLANK_FAKE_SPEED");
    if (speed != nullptr && std::atof(speed) >= 1.0) dev->speed = std::atof(speed);
    dev->thread = std::thread(PlayFile, dev);
    input.device = dev;
}

void StopSoundInput(SoundInput& input) {
    common::WriteWord(*input.capturing, 0);
    SoundInputDevice* dev = std::exchange(input.device, nullptr);
    if (dev == nullptr) return;
    // The thread sleeps at most one block's period, about 12 ms, before it sees the stop.
    dev->stop.store(true);
    dev->thread.join();
    delete dev;
}

}  // namespace capture
