// Windows binding of the signal guard: the console calls the handler on a thread of its own for
// each event (Ctrl+C, Ctrl+Break, close, logoff, shutdown), so it may wait and print.
#include <windows.h>

#include <cstdio>

#include "analyze/signal_guard.h"

namespace analyze {

namespace {

// The handler and main take turns through this lock: main while it changes the list together with
// the file, the handler while it deletes. The record is left here: a handler gets no context.
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
    // As the default handler would end it, but at once, with the lock still taken: nothing runs
    // that could wait for a lock main holds.
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
