// Console stop: how a stop request from the user reaches the main sequence.
//
// Every stop request of the platform sets `stopRequested` to 1 and prints "Stopping...\n"; it
// never ends the process itself, so the main thread leaves the status loop, stops capture and
// (in log mode) writes the log file before it returns its exit code. The request is handled on a
// thread of its own, never inside an asynchronous signal handler, so printing is safe there.
//
// One binding per platform, chosen by CMake:
//   console_stop_posix.cpp  SIGINT (Ctrl+C), SIGQUIT (Ctrl+\, the counterpart of Ctrl+Break),
//                           SIGTERM and SIGHUP are blocked in the calling thread and fetched with
//                           sigwait by one watcher thread; every thread started afterwards
//                           inherits the mask, so no other thread is ever interrupted by them.
//   console_stop_win.cpp    SetConsoleCtrlHandler; the console calls the handler on a thread it
//                           creates for each event. For the events that end the console (close,
//                           logoff, shutdown) Windows ends the process as soon as the handler
//                           returns, so the handler waits, within the system's grace period, for
//                           MarkMainSequenceDone before returning, and the log file still gets
//                           written.
//
// A standard output that nobody can read any more (the reader of a pipe has gone: `| head`, a
// viewer closed) is a stop request too, found by the status loop when its line cannot be
// written; see StandardOutputIsGone. It sets stopRequested like the events above, but says why
// on stderr instead of printing "Stopping..." where nobody reads it.
//
// Each binding defines PrepareStandardStreams, StandardOutputIsGone, InstallConsoleStop and
// MarkMainSequenceDone; console_stop.cpp, shared by both, defines RequestConsoleStop and
// WaitMainSequenceDone.
//
// Threads: InstallConsoleStop and MarkMainSequenceDone run on the main thread; RequestConsoleStop
// runs on the thread that receives the request (the POSIX watcher, or the console's thread).
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <thread>

#include "common/shared_types.h"

// How long a close, logoff or shutdown event waits for the main sequence. Windows grants a
// console handler about 5 s for these events before it ends the process regardless; 4.5 s keeps
// the wait inside that grace period.
inline constexpr int32_t ConsoleCloseWaitMs = 4500;

// The record of the stop binding. One instance lives in the app's wiring for the whole process.
struct ConsoleStop {
    common::SharedStatus* status = nullptr;    // where stopRequested is set
    FILE* out = nullptr;                       // where "Stopping...\n" is printed
    std::atomic<int32_t> mainSequenceDone{0};  // 1 once the main sequence has finished its work
    std::thread watcher;  // POSIX only: the thread that fetches the stop signals
};

// The first call of the tool, before anything is printed or opened. POSIX: SIGPIPE is ignored, so
// a write to a pipe without a reader fails with EPIPE instead of ending the process, and any of
// descriptors 0, 1, 2 that the tool was started without is opened on /dev/null, so that no file
// the tool opens later can become its standard output and take in the status lines. Windows:
// nothing to do.
void PrepareStandardStreams();

// Whether a write to standard output that failed with `error` (errno) means nobody will ever
// read it: EPIPE on POSIX (a full disk, ENOSPC, may pass; the tool keeps running); on Windows
// every failed write, since the C runtime gives a broken pipe no errno of its own (EINVAL).
bool StandardOutputIsGone(int error);

// Binds the platform's stop requests to `stop`. Call once, on the main thread, before any other
// thread is started (on POSIX the signal mask is inherited only by threads created later).
// `status` and `out` must outlive the process's last stop request.
void InstallConsoleStop(ConsoleStop& stop, common::SharedStatus& status, FILE* out);

// What every stop request does, on whichever platform: sets stopRequested to 1, prints
// "Stopping...\n" and flushes it. Platform-neutral; the bindings call it.
void RequestConsoleStop(ConsoleStop& stop);

// Called by the main sequence as its last step, after the log file has been written. Lets a
// waiting close/logoff/shutdown handler return (Windows), and ends and joins the watcher thread
// (POSIX); stop requests arriving after this are ignored, the process is ending anyway.
void MarkMainSequenceDone(ConsoleStop& stop);

// For the Windows handler: waits until MarkMainSequenceDone has been called or `timeoutMs` have
// passed; returns true when the main sequence is done. Platform-neutral.
bool WaitMainSequenceDone(ConsoleStop& stop, int32_t timeoutMs);
