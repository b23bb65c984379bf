// Windows binding of the console stop: SetConsoleCtrlHandler.
//
// The console runs the handler on a thread it creates for each event (Ctrl+C, Ctrl+Break, close,
// logoff, shutdown), so the handler may print and wait; it is never an asynchronous signal
// context. Every event is a stop request. Returning TRUE keeps the process alive for Ctrl+C and
// Ctrl+Break, so the main thread shuts down in order. For close, logoff and shutdown Windows ends
// the process as soon as the handler returns, so the handler first waits for the main sequence,
// within the system's grace period, so that capture is stopped and the log file written.
//
// Wine delivers SIGINT to a console program as CTRL_C_EVENT through this same handler.
#include <windows.h>

#include "app/console_stop.h"

namespace {

// The one record the handler serves. A console handler gets only the event type, no context
// pointer, so InstallConsoleStop leaves the record here for it, before registering the handler;
// the record itself lives in the app's wiring.
std::atomic<ConsoleStop*> handlerTarget{nullptr};

bool EndsTheConsole(DWORD eventType) {
    return eventType == CTRL_CLOSE_EVENT || eventType == CTRL_LOGOFF_EVENT ||
           eventType == CTRL_SHUTDOWN_EVENT;
}

BOOL WINAPI ConsoleStopHandler(DWORD eventType) {
    ConsoleStop& stop = *handlerTarget.load();
    // After the main sequence is done the process is ending anyway; nothing is printed then.
    if (common::ReadWord(stop.mainSequenceDone) != 0) return TRUE;
    RequestConsoleStop(stop);
    if (EndsTheConsole(eventType)) WaitMainSequenceDone(stop, ConsoleCloseWaitMs);
    return TRUE;
}

}  // namespace

void PrepareStandardStreams() {}

bool StandardOutputIsGone(int) {
    return true;
}

void InstallConsoleStop(ConsoleStop& stop, common::SharedStatus& status, FILE* out) {
    stop.status = &status;
    stop.out = out;
    handlerTarget.store(&stop);
    SetConsoleCtrlHandler(ConsoleStopHandler, TRUE);
}

void MarkMainSequenceDone(ConsoleStop& stop) {
    common::WriteWord(stop.mainSequenceDone, 1);
}
