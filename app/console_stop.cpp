#include "app/console_stop.h"

#include <chrono>

namespace {

// Granularity of the wait for the main sequence: fine against the ~5 s grace period, coarse
// enough to cost nothing while waiting.
constexpr int32_t kWaitStepMs = 10;

}  // namespace

void RequestConsoleStop(ConsoleStop& stop) {
    common::WriteWord(stop.status->stopRequested, 1);
    std::fputs("Stopping...\n", stop.out);
    std::fflush(stop.out);
}

bool WaitMainSequenceDone(ConsoleStop& stop, int32_t timeoutMs) {
    for (int32_t waited = 0; common::ReadWord(stop.mainSequenceDone) == 0; waited += kWaitStepMs) {
        if (waited >= timeoutMs) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(kWaitStepMs));
    }
    return true;
}
