// Console stop: how the user's stop requests (Ctrl+C, Ctrl+Break or Ctrl+\, a polite kill, a
// closed terminal or console) reach the main sequence. A request arrives on a thread of its own
// (the POSIX signal watcher, or the console's handler thread), sets stopRequested and wakes the
// main thread, which alone prints "Stopping..." for it, so standard output has one writer.
// One binding per platform: console_stop_posix.cpp, console_stop_win.cpp.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <thread>

#include "common/shared_types.h"

namespace app {

// Windows ends the process about 5 s after a close, logoff or shutdown event, whatever its
// handler does; the handler waits this long for the main sequence to write the log.
inline constexpr int32_t kConsoleCloseWaitMs = 4500;

// One instance lives in the app's wiring for the whole process.
struct ConsoleStop {
    // Where stopRequested is set.
    common::SharedStatus* status = nullptr;
    // Where the main thread prints kAppTexts.stopping, once per request.
    FILE* out = nullptr;
    // Guards `requests` and `mainSequenceDone`; never held while printing.
    std::mutex lock;
    std::condition_variable changed;
    // Stop requests received so far.
    int32_t requests = 0;
    // Set as the main sequence's last step; requests after it are ignored.
    bool mainSequenceDone = false;
    // Requests printed so far; main thread only.
    int32_t announced = 0;
    // POSIX only: the thread that fetches the stop signals.
    std::thread watcher;
};

// The first call of the tool. POSIX: SIGPIPE is ignored, so a write to a pipe without a reader
// fails with EPIPE instead of ending the process, and any of descriptors 0, 1, 2 the tool was
// started without is opened on /dev/null, so that no file opened later takes in the status lines.
void PrepareStandardStreams();

// Whether a write to standard output that failed with `error` (errno) means nobody will ever read
// it: EPIPE on POSIX (a full disk may pass); on Windows every failure, since the C runtime gives a
// broken pipe no errno of its own.
bool StandardOutputIsGone(int error);

// Binds the platform's stop requests to `stop`. Main thread, before any other thread is started
// (on POSIX only threads created later inherit the signal mask).
void InstallConsoleStop(ConsoleStop& stop, common::SharedStatus& status, FILE* out);

// Any thread: sets stopRequested and wakes the main thread. Returns false, doing nothing, once the
// main sequence is done.
bool RequestConsoleStop(ConsoleStop& stop);

// Main thread, a SleepFunction over a ConsoleStop: sleeps `milliseconds`, printing every request
// as it comes.
void SleepUntilStopRequest(void* consoleStop, int32_t milliseconds);

// Main thread: prints kAppTexts.stopping once for every request not printed yet.
void AnnounceStopRequests(ConsoleStop& stop);

// Main thread, the main sequence's last step: prints the requests not printed yet, lets a waiting
// close handler return (Windows) and ends the watcher (POSIX).
void MarkMainSequenceDone(ConsoleStop& stop);

// For MarkMainSequenceDone of either binding: prints, then ignores any later request.
void CloseStopRequests(ConsoleStop& stop);

// Waits until MarkMainSequenceDone or `timeoutMs`; true when the main sequence is done.
bool WaitMainSequenceDone(ConsoleStop& stop, int32_t timeoutMs);

}  // namespace app
