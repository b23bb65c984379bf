// Windows binding of the console stop: SetConsoleCtrlHandler. The console runs the handler on a
// thread it creates for each event (wine turns SIGINT into CTRL_C_EVENT), so it may wait.
#include <windows.h>

#include <atomic>

#include "app/console_stop.h"

namespace app {
namespace {

// A console handler gets no context pointer, so the record it serves is left here for it.
std::atomic<ConsoleStop*> handlerTarget{nullptr};

// Returning TRUE keeps the process alive after Ctrl+C and Ctrl+Break. After a close, logoff or
// shutdown Windows ends it as soon as the handler returns, so the handler first waits for the
// main sequence to write the log.
BOOL WINAPI ConsoleStopHandler(DWORD eventType) {
    ConsoleStop& stop = *handlerTarget.load();
    if (!RequestConsoleStop(stop)) return TRUE;
    if (eventType == CTRL_CLOSE_EVENT || eventType == CTRL_LOGOFF_EVENT ||
        eventType == CTRL_SHUTDOWN_EVENT) {
        WaitMainSequenceDone(stop, kConsoleCloseWaitMs);
    }
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
    CloseStopRequests(stop);
}

}  // namespace app
