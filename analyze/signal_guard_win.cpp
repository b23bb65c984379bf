// Windows binding of the signal guard: SetConsoleCtrlHandler.
//
// The console calls the handler on a thread it creates for each event (Ctrl+C, Ctrl+Break, close,
// logoff, shutdown), so the handler may wait and print; it is never an asynchronous context. Ctrl+C
// reaches every process attached to the console, a pipeline's recorder as well as the analyzer.
// Wine delivers SIGINT to a console program as a Ctrl+C event through this same handler.
#include <windows.h>

#include <cstdio>

#include "analyze/signal_guard.h"

namespace analyze {

namespace {

// The handler and the main thread take turns through this lock: the main thread while it changes
// the list together with the file it stands for, the handler while it reads the list and deletes.
// A console handler gets only the event type, no context pointer, so the record it serves is left
// here as well; the record itself lives in main's wiring.
SRWLOCK turns = SRWLOCK_INIT;
// Read and written only under `turns`
SignalGuard* handlerTarget = nullptr;

BOOL WINAPI EndByConsoleEvent(DWORD eventType) {
    AcquireSRWLockExclusive(&turns);
    SignalGuard* guard = handlerTarget;
    if (guard != nullptr && eventType == CTRL_C_EVENT &&
        guard->interruptWaitsForInput.exchange(0) != 0) {
        ReleaseSRWLockExclusive(&turns);
        std::fputs(kInterruptWaitsText, stderr);
        std::fflush(stderr);  // the C runtime buffers stderr into a file
        return TRUE;
    }
    if (guard == nullptr) {
        ReleaseSRWLockExclusive(&turns);
        return FALSE;  // the run is over: the system's default action
    }
    for (const char* path : guard->files) {
        if (path != nullptr) DeleteFileA(path);
    }
    // Ends the process as the system's default handler would, with the same status, but at once:
    // the run is abandoned, its report lines are flushed as written, and nothing else is run that
    // could wait for a lock the main thread holds. The lock stays taken until then.
    TerminateProcess(GetCurrentProcess(), STATUS_CONTROL_C_EXIT);
    return TRUE;
}

}  // namespace

void InstallSignalGuard(SignalGuard& guard) {
    AcquireSRWLockExclusive(&turns);
    handlerTarget = &guard;
    ReleaseSRWLockExclusive(&turns);
    SetConsoleCtrlHandler(EndByConsoleEvent, TRUE);
}

void RemoveSignalGuard(SignalGuard&) {
    SetConsoleCtrlHandler(EndByConsoleEvent, FALSE);
    AcquireSRWLockExclusive(&turns);
    handlerTarget = nullptr;
    ReleaseSRWLockExclusive(&turns);
}

void HoldSignals(SignalGuard&) {
    AcquireSRWLockExclusive(&turns);
}

void ReleaseSignals(SignalGuard&) {
    ReleaseSRWLockExclusive(&turns);
}

}  // namespace analyze
