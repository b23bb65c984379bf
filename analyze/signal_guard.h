// Ctrl+C, kill and their kin during vorlank-analyze: the outputs' temporary files are removed
// before the process ends as it would have; from a pipe the first Ctrl+C waits for the input's end.
// Threads: main calls these; the handler runs asynchronously (POSIX) or on the console's thread.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>

namespace analyze {

// One temporary file at the most per output option (--pos1, --frames, --json, --svg).
inline constexpr size_t kGuardedFilesMax = 4;

inline constexpr char kInterruptWaitsText[] =
    "vorlank-analyze: interrupted: the report follows when the input ends; interrupt again to "
    "abandon the run\n";

struct SignalGuard {
    // Temporary files to remove when the process is ended; null marks a free place. Changed only
    // between HoldSignals and ReleaseSignals, so a file is listed exactly while it exists.
    std::array<const char*, kGuardedFilesMax> files{};
    // 1 while the input is a pipe and no Ctrl+C has come yet: the recorder feeding the pipe got the
    // same Ctrl+C, so the next one only waits for the input's end.
    std::atomic<int> interruptWaitsForInput{0};
};

// Binds the handler to `guard` (for the ending signals the process did not inherit as ignored or
// blocked). Without it the record still lists files and nothing acts on it: in-process tests.
void InstallSignalGuard(SignalGuard& guard);
// Gives every request its default action again; call from main once the run is over.
void RemoveSignalGuard(SignalGuard& guard);

// Around a change of the list together with the file operation it stands for: an ending request
// that arrives meanwhile is served at ReleaseSignals. Never hold across anything slow.
void HoldSignals(SignalGuard& guard);
void ReleaseSignals(SignalGuard& guard);

inline void SetInputFromPipe(SignalGuard& guard, bool fromPipe) {
    guard.interruptWaitsForInput.store(fromPipe ? 1 : 0);
}

}  // namespace analyze
