// lead     = samples received / rate - seconds since the first arrival
// baseline = the lead's recent maximum: it follows the lead up at once and falls by at most the
//            drift allowance, so a card whose clock runs up to 0.5 % slow is never taken for loss
// deficit  = baseline - lead
// Delivery is bursty, so the deficit moves by tens of milliseconds all the time. Above the loss
// threshold a loss is suspected; if it is still there after the caller's settling time, sound that
// was only held up would have arrived by then, so it is reported once and the baseline restarts.
// The first arrival sets the origin: the first samples' delay is start-up latency, not loss.
#include "capture/arrival_clock.h"

#include <algorithm>
#include <cmath>

namespace capture {
namespace {

// How far below the baseline the lead may fall before a loss is suspected: well above the 30 ms
// passes in which wine delivers sound, and above a few scheduling delays on a loaded machine.
constexpr double kLossThresholdSeconds = 0.100;
// The same after the device ran out of blocks, when some loss is certain: just above one burst.
constexpr double kRanDryThresholdSeconds = 0.035;
// How long a running-dry keeps the lower threshold: long enough for the gap to show in arrivals.
constexpr double kRanDryWindowSeconds = 0.5;
// How fast the baseline may fall, in seconds per second: twice the 0.5 % by which a sound card's
// clock may differ from the system's.
constexpr double kDriftAllowance = 0.01;

double ThresholdSeconds(const ArrivalClock& clock, double nowSeconds) {
    const bool ranDryLately =
        clock.ranDrySeconds >= 0 && nowSeconds - clock.ranDrySeconds <= kRanDryWindowSeconds;
    return ranDryLately ? kRanDryThresholdSeconds : kLossThresholdSeconds;
}

}  // namespace

void RestartArrivals(ArrivalClock& clock, double sampleRateHz, double settleSeconds) {
    clock = ArrivalClock{};
    clock.sampleRateHz = sampleRateHz;
    clock.settleSeconds = settleSeconds;
}

void NoteRanDry(ArrivalClock& clock, double nowSeconds) {
    clock.ranDrySeconds = nowSeconds;
}

uint64_t ObserveArrivals(ArrivalClock& clock, double nowSeconds, uint64_t samplesReceived) {
    const double receivedSeconds = static_cast<double>(samplesReceived) / clock.sampleRateHz;
    if (clock.phase == ArrivalPhase::AwaitingFirst) {
        if (samplesReceived == 0) return 0;
        // The first samples arrive together; whatever delay they had is the device's latency,
        // which the lead leaves out.
        clock.originSeconds = nowSeconds - receivedSeconds;
        clock.lastSeconds = nowSeconds;
        clock.baselineSeconds = 0;
        clock.phase = ArrivalPhase::Tracking;
        return 0;
    }

    const double lead = receivedSeconds - (nowSeconds - clock.originSeconds);
    const double passed = std::max(0.0, nowSeconds - clock.lastSeconds);
    clock.lastSeconds = nowSeconds;
    clock.baselineSeconds = std::max(lead, clock.baselineSeconds - kDriftAllowance * passed);
    const double deficit = clock.baselineSeconds - lead;
    const bool suspect = deficit > ThresholdSeconds(clock, nowSeconds);

    // Tracking -> Settling   the deficit rises above the threshold
    // Settling -> Tracking   it falls back within it: the sound was late, not lost
    // Settling -> Tracking   it is still above after the settling time: a loss, reported once;
    //                        the baseline starts again from the current lead
    switch (clock.phase) {
        case ArrivalPhase::Tracking:
            if (suspect) {
                clock.phase = ArrivalPhase::Settling;
                clock.settlingSinceSeconds = nowSeconds;
            }
            return 0;
        case ArrivalPhase::Settling:
            if (!suspect) {
                clock.phase = ArrivalPhase::Tracking;
                return 0;
            }
            if (nowSeconds - clock.settlingSinceSeconds < clock.settleSeconds) return 0;
            clock.phase = ArrivalPhase::Tracking;
            clock.baselineSeconds = lead;
            clock.ranDrySeconds = -1;
            return static_cast<uint64_t>(std::llround(deficit * clock.sampleRateHz));
        case ArrivalPhase::AwaitingFirst:
            break;
    }
    return 0;
}

}  // namespace capture
