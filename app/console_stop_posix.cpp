// POSIX binding of the console stop: the stop signals are blocked in every thread and fetched
// synchronously by one watcher thread, so a request runs as ordinary code, never inside an
// asynchronous signal handler.
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>

#include "app/console_stop.h"

namespace app {
namespace {

// Ctrl+C, Ctrl+\ (the terminal's counterpart of Ctrl+Break), a polite kill, and the terminal
// going away.
constexpr int kStopSignals[] = {SIGINT, SIGQUIT, SIGTERM, SIGHUP};

// A signal inherited as ignored (nohup, a background job of a non-interactive shell) stays
// ignored: whoever started the tool asked for that.
sigset_t WatchedSignals() {
    sigset_t signals;
    sigemptyset(&signals);
    for (int signal : kStopSignals) {
        struct sigaction current {};
        if (sigaction(signal, nullptr, &current) == 0 && current.sa_handler != SIG_IGN) {
            sigaddset(&signals, signal);
        }
    }
    return signals;
}

// The first stop signal in `signals`, or 0 when every one of them is ignored.
int FirstSignal(const sigset_t& signals) {
    for (int signal : kStopSignals) {
        if (sigismember(&signals, signal) == 1) return signal;
    }
    return 0;
}

void WatchStopSignals(ConsoleStop* stop, sigset_t signals) {
    for (;;) {
        int signal = 0;
        // MarkMainSequenceDone wakes the watcher with one of its signals; the request then fails.
        if (sigwait(&signals, &signal) == 0 && !RequestConsoleStop(*stop)) return;
    }
}

}  // namespace

void PrepareStandardStreams() {
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGPIPE, &ignore, nullptr);
    // open() takes the lowest free descriptor, so going up from 0 refills exactly the gaps.
    for (int standard = STDIN_FILENO; standard <= STDERR_FILENO; ++standard) {
        if (fcntl(standard, F_GETFD) == -1 && errno == EBADF) {
            open("/dev/null", standard == STDIN_FILENO ? O_RDONLY : O_WRONLY);
        }
    }
}

bool StandardOutputIsGone(int error) {
    return error == EPIPE;
}

void InstallConsoleStop(ConsoleStop& stop, common::SharedStatus& status, FILE* out) {
    stop.status = &status;
    stop.out = out;
    const sigset_t signals = WatchedSignals();
    // Every thread started later inherits the mask, so the signals stay pending until the
    // watcher's sigwait takes them.
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    if (FirstSignal(signals) != 0) stop.watcher = std::thread(WatchStopSignals, &stop, signals);
}

void MarkMainSequenceDone(ConsoleStop& stop) {
    CloseStopRequests(stop);
    if (!stop.watcher.joinable()) return;
    // Stop signals arriving from now on stay blocked and pending until the process ends.
    pthread_kill(stop.watcher.native_handle(), FirstSignal(WatchedSignals()));
    stop.watcher.join();
}

}  // namespace app
