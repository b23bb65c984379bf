// Arrival clock: tells sound that a device dropped from sound that merely came late, for a sound
// interface that never says when it drops any (winmm). It compares the samples that have arrived
// with the time that has passed on a monotonic clock.
//
//   lead      = samples received / sample rate - seconds since the first arrival
//   baseline  = the lead's recent maximum; it follows the lead up at once and may fall by at most
//               the drift allowance (1 % of the time that passes), so a sound card whose clock
//               runs up to 0.5 % slower than the system's is followed and never taken for a loss
//   deficit   = baseline - lead
//
// Delivery is bursty (wine hands over sound in passes of up to 30 ms), so the deficit goes up and
// down by a few tens of milliseconds all the time. A deficit above the loss threshold (100 ms)
// makes the clock suspect a loss; if it is still there after a settling time (250 ms), sound
// that was only held up would have arrived by then, so the deficit is lost sound: it is reported
// once, and the baseline starts again from the current lead. When the device ran out of queued
// blocks, sound was certainly dropped, and a smaller deficit (35 ms, above the burst size) counts.
//
// All times are seconds of one monotonic clock, as doubles; the caller reads the clock. Pure
// arithmetic on a plain record: one record per device, used by one thread.
#pragma once

#include <cstdint>

enum class ArrivalPhase {
    AwaitingFirst,  // restarted; the first arrival sets the origin
    Tracking,       // the deficit is within the threshold
    Settling,       // the deficit is above it; loss or lateness is decided once it has settled
};

struct ArrivalClock {
    double sampleRateHz = 0;  // the device's nominal rate, samples per second
    ArrivalPhase phase = ArrivalPhase::AwaitingFirst;
    double originSeconds = 0;    // the clock reading that sample 0 stands for
    double lastSeconds = 0;      // the clock reading of the previous observation
    double baselineSeconds = 0;  // see above
    double settlingSinceSeconds = 0;
    double ranDrySeconds = -1;  // when the device last ran out of blocks; < 0: not lately
};

// Starts over, as when a device starts recording; nothing before this counts.
void RestartArrivals(ArrivalClock& clock, double sampleRateHz);

// The device ran out of queued blocks at `nowSeconds`: some sound was certainly dropped.
void NoteRanDry(ArrivalClock& clock, double nowSeconds);

// One observation, made after all finished blocks have been taken in: `samplesReceived` counts
// every sample since the restart. Returns the number of samples found lost, to be reported once;
// 0 when nothing is to be reported (also while a suspected loss is still settling).
uint64_t ObserveArrivals(ArrivalClock& clock, double nowSeconds, uint64_t samplesReceived);
