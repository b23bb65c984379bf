// POSIX binding of the signal guard: one asynchronous handler for the signals that end a process.
#include <signal.h>
#include <unistd.h>

#include <csignal>

#include "analyze/signal_guard.h"

namespace analyze {

namespace {

// What ends a filter by default: the terminal closing, Ctrl+C, Ctrl+\, kill, a reader gone,
// a size limit.
constexpr int kEndingSignals[] = {SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGPIPE, SIGXFSZ};

// The record the handler serves, left here as a handler gets no context pointer.
std::atomic<SignalGuard*> handlerTarget{nullptr};

// Runs with every ending signal blocked; the one raised again at the end acts by default once it
// returns, so the exit status tells which signal it was.
void EndBySignal(int signal) {
    SignalGuard& guard = *handlerTarget.load();  // set for as long as this handler is bound
    if (signal == SIGINT && guard.interruptWaitsForInput.exchange(0) != 0) {
        const ssize_t written =
            write(STDERR_FILENO, kInterruptWaitsText, sizeof kInterruptWaitsText - 1);
        static_cast<void>(written);  // nothing to do about a note that cannot be shown
        return;
    }
    for (const char* path : guard.files) {
        if (path != nullptr) unlink(path);
    }
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

// The signals the handler serves: none before InstallSignalGuard, so holding leaves tests be.
sigset_t ServedSignals() {
    sigset_t signals;
    sigemptyset(&signals);
    for (int signal : kEndingSignals) {
        struct sigaction current {};
        if (sigaction(signal, nullptr, &current) == 0 && current.sa_handler == EndBySignal) {
            sigaddset(&signals, signal);
        }
    }
    return signals;
}

}  // namespace

void InstallSignalGuard(SignalGuard& guard) {
    handlerTarget.store(&guard);
    struct sigaction handler {};
    handler.sa_handler = EndBySignal;
    sigemptyset(&handler.sa_mask);
    for (int signal : kEndingSignals) sigaddset(&handler.sa_mask, signal);
    // A Ctrl+C let pass must not cut a read short: the interrupted read carries on.
    handler.sa_flags = SA_RESTART;
    sigset_t blocked;
    sigprocmask(SIG_BLOCK, nullptr, &blocked);
    for (int signal : kEndingSignals) {
        // One ignored or blocked by whoever started the tool (nohup) stays so.
        struct sigaction current {};
        if (sigaction(signal, nullptr, &current) == 0 && current.sa_handler != SIG_IGN &&
            sigismember(&blocked, signal) == 0) {
            sigaction(signal, &handler, nullptr);
        }
    }
}

void RemoveSignalGuard(SignalGuard&) {
    const sigset_t served = ServedSignals();
    sigprocmask(SIG_BLOCK, &served, nullptr);
    for (int signal : kEndingSignals) {
        if (sigismember(&served, signal) == 1) std::signal(signal, SIG_DFL);
    }
    handlerTarget.store(nullptr);
    // One that came meanwhile acts by default now.
    sigprocmask(SIG_UNBLOCK, &served, nullptr);
}

void HoldSignals(SignalGuard&) {
    const sigset_t signals = ServedSignals();
    sigprocmask(SIG_BLOCK, &signals, nullptr);
}

void ReleaseSignals(SignalGuard&) {
    const sigset_t signals = ServedSignals();
    sigprocmask(SIG_UNBLOCK, &signals, nullptr);
}

}  // namespace analyze
