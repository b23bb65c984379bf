// Arrival clock: tells sound a device dropped from sound that merely came late, for a driver that
// does not report what it drops (winmm; pipewire-alsa after a stall of the process), by holding
// the samples that arrived against a monotonic clock the caller reads (seconds, as doubles).
// Pure arithmetic on a plain record: one record per device, used by one thread.
#pragma once

#include <cstdint>

namespace capture {

enum class ArrivalPhase {
    // Restarted; the first arrival sets the origin.
    AwaitingFirst,
    // The deficit is within the threshold.
    Tracking,
    // The deficit is above it; loss or lateness is decided once it has settled.
    Settling,
};

struct ArrivalClock {
    // The device's nominal rate, in samples per second.
    double sampleRateHz = 0;
    // How long a suspected loss may still turn out as late sound, in seconds.
    double settleSeconds = 0;
    ArrivalPhase phase = ArrivalPhase::AwaitingFirst;
    // The clock reading that sample 0 stands for.
    double originSeconds = 0;
    // The clock reading of the previous observation.
    double lastSeconds = 0;
    // The lead's recent maximum, in seconds (arrival_clock.cpp).
    double baselineSeconds = 0;
    double settlingSinceSeconds = 0;
    // When the device last ran out of blocks; < 0: not lately.
    double ranDrySeconds = -1;
};

// How long each layer lets a suspected loss settle. wine's winmm hands blocks over in passes of up
// to 30 ms, so sound missing after several passes was dropped; a sound server behind ALSA hands a
// held process its backlog as the two take turns on the processor, which takes longer when busy.
inline constexpr double kWinmmSettleSeconds = 0.250;
inline constexpr double kAlsaSettleSeconds = 0.500;

// Starts over, as when a device starts recording; nothing before this counts.
void RestartArrivals(ArrivalClock& clock, double sampleRateHz, double settleSeconds);

// The device ran out of queued blocks at `nowSeconds`: some sound was certainly dropped.
void NoteRanDry(ArrivalClock& clock, double nowSeconds);

// One observation, once all that has arrived has been taken in; `samplesReceived` counts every
// sample since the restart. Returns the samples found lost, to be reported once; 0 otherwise
// (also while a suspected loss is still settling).
uint64_t ObserveArrivals(ArrivalClock& clock, double nowSeconds, uint64_t samplesReceived);

}  // namespace capture
