// The platform-neutral part of the signal guard: the list of temporary files. See signal_guard.h.
#include "analyze/signal_guard.h"

bool ListTemporaryFile(SignalGuard& guard, const char* path) {
    for (const char*& place : guard.files) {
        if (place == nullptr) {
            place = path;
            return true;
        }
    }
    return false;
}

void UnlistTemporaryFile(SignalGuard& guard, const char* path) {
    for (const char*& place : guard.files) {
        if (place == path) place = nullptr;
    }
}

void SetInputFromPipe(SignalGuard& guard, bool fromPipe) {
    guard.interruptWaitsForInput.store(fromPipe ? 1 : 0);
}
