#include "app/console_stop.h"

#include <chrono>

#include "app/texts.h"

namespace app {

bool RequestConsoleStop(ConsoleStop& stop) {
    {
        const std::lock_guard<std::mutex> guard(stop.lock);
        if (stop.mainSequenceDone) return false;
        ++stop.requests;
        common::WriteWord(stop.status->stopRequested, 1);
    }
    stop.changed.notify_all();
    return true;
}

void SleepUntilStopRequest(void* consoleStop, int32_t milliseconds) {
    ConsoleStop& stop = *static_cast<ConsoleStop*>(consoleStop);
    // The whole period is slept, as a plain sleep would: the loop's rhythm, and the moment the
    // tool goes on to shut down after a stop, stay what they are.
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    for (;;) {
        {
            std::unique_lock<std::mutex> guard(stop.lock);
            if (!stop.changed.wait_until(guard, deadline,
                                         [&stop] { return stop.requests != stop.announced; })) {
                return;
            }
        }
        AnnounceStopRequests(stop);
    }
}

void AnnounceStopRequests(ConsoleStop& stop) {
    int32_t requests = 0;
    {
        const std::lock_guard<std::mutex> guard(stop.lock);
        requests = stop.requests;
    }
    for (; stop.announced < requests; ++stop.announced) PrintText(stop.out, kAppTexts.stopping);
}

void CloseStopRequests(ConsoleStop& stop) {
    // Printed before a waiting close handler is let go: Windows ends the process once it returns.
    AnnounceStopRequests(stop);
    {
        const std::lock_guard<std::mutex> guard(stop.lock);
        stop.mainSequenceDone = true;
    }
    // A request may have come between the two.
    AnnounceStopRequests(stop);
    stop.changed.notify_all();
}

bool WaitMainSequenceDone(ConsoleStop& stop, int32_t timeoutMs) {
    std::unique_lock<std::mutex> guard(stop.lock);
    return stop.changed.wait_for(guard, std::chrono::milliseconds(timeoutMs),
                                 [&stop] { return stop.mainSequenceDone; });
}

}  // namespace app
