// Arrival clock: tells sound that a device dropped from sound that merely came late, for a sound
// interface that does not say when it drops any (winmm never does; pipewire-alsa drops what its
// server captured while this process was stopped, and reports no overrun). It compares the
// samples that have arrived with the time that has passed on a monotonic clock.
//
//   lead      = samples received / sample rate - seconds since the first arrival
//   baseline  = the lead's recent maximum; it follows the lead up at once and may fall by at most
//               the drift allowance (1 % of the time that passes), so a sound card whose clock
//               runs up to 0.5 % slower than the system's is followed and never taken for a loss
//   deficit   = baseline - lead
//
// The first arrival after a restart sets the origin: whatever delay the first samples had is the
// device's start-up latency, not a loss. Delivery is bursty (wine hands over sound in passes of
// up to 30 ms, a sound server in its own periods), so the deficit goes up and down by a few tens
// of milliseconds all the time. A deficit above the loss threshold (100 ms) makes the clock
// suspect a loss; if it is still there after the settling time, sound that was only held up
// would have arrived by then, so the deficit is lost sound: it is reported once, and the
// baseline starts again from the current lead. The settling time is the caller's: how long its
// driver may hold sound up and still deliver it. When the device ran out of queued blocks, sound
// was certainly dropped, and a smaller deficit (35 ms, above the burst size) counts.
//
// All times are seconds of one monotonic clock, as doubles; the caller reads the clock. Pure
// arithmetic on a plain record: one record per device, used by one thread.
#pragma once

#include <cstdint>

namespace capture {

enum class ArrivalPhase {
    AwaitingFirst,  // restarted; the first arrival sets the origin
    Tracking,       // the deficit is within the threshold
    Settling,       // the deficit is above it; loss or lateness is decided once it has settled
};

struct ArrivalClock {
    double sampleRateHz = 0;   // the device's nominal rate, samples per second
    double settleSeconds = 0;  // how long a suspected loss may still turn out as late sound
    ArrivalPhase phase = ArrivalPhase::AwaitingFirst;
    double originSeconds = 0;    // the clock reading that sample 0 stands for
    double lastSeconds = 0;      // the clock reading of the previous observation
    double baselineSeconds = 0;  // see above
    double settlingSinceSeconds = 0;
    double ranDrySeconds = -1;  // when the device last ran out of blocks; < 0: not lately
};

// How long each device layer lets a suspected loss settle, the `settleSeconds` it restarts the
// clock with. winmm's driver hands finished blocks over in passes of up to 30 ms (wine's), so sound
// still missing after several passes was dropped. A sound server behind ALSA (PulseAudio, PipeWire)
// that kept sound for a process that was held hands the backlog over as the two take turns on the
// processor, which on a busy machine takes longer than a pass.
inline constexpr double kWinmmSettleSeconds = 0.250;
inline constexpr double kAlsaSettleSeconds = 0.500;

// Starts over, as when a device starts recording; nothing before this counts. `settleSeconds` is
// how long the caller's driver may hold sound up before it is taken for lost (see above).
void RestartArrivals(ArrivalClock& clock, double sampleRateHz, double settleSeconds);

// The device ran out of queued blocks at `nowSeconds`: some sound was certainly dropped.
void NoteRanDry(ArrivalClock& clock, double nowSeconds);

// One observation, made once all that has arrived has been taken in (every finished block, or
// every sample a read would give): `samplesReceived` counts every sample since the restart.
// Returns the number of samples found lost, to be reported once; 0 when nothing is to be reported
// (also while a suspected loss is still settling).
uint64_t ObserveArrivals(ArrivalClock& clock, double nowSeconds, uint64_t samplesReceived);

}  // namespace capture
