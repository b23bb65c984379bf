// What a signal or a console event does to a run of vorlank-analyze.
//
// Ending: a request that ends the process (Ctrl+C, Ctrl+\ or Ctrl+Break, kill, the terminal or
// console closing, a pipe whose reader has gone, a file-size limit) still ends it as it would end
// any program, exit status included, but first removes the temporary files that its outputs are
// being written into, so that a run that did not finish leaves nothing behind. The temporary files
// are listed here in advance; the handler only removes what is listed.
//
// Pipes: a recorder feeding the analyzer through a pipe is stopped with Ctrl+C, and the terminal
// (or console) sends Ctrl+C to every process of the pipeline. So while the input is a pipe or FIFO,
// the first Ctrl+C does not end the analyzer: it says so on stderr, the recorder ends and closes
// the pipe, and the analyzer reads what it sent up to the end and reports as usual. A writer that
// ignores Ctrl+C would keep the pipe open, so a second Ctrl+C ends the analyzer as above, as does
// any other ending request at any time.
//
// One binding per platform, chosen by the build:
//   signal_guard_posix.cpp  a handler for SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGPIPE and SIGXFSZ
//                           that unlinks the listed files and raises the signal again with its
//                           default action. Async-signal-safe calls only. A signal the process
//                           inherited as ignored stays ignored. The list changes only while the
//                           signals are blocked (HoldSignals), so the handler never sees it half
//                           changed and a file is listed exactly while it exists.
//   signal_guard_win32.cpp  SetConsoleCtrlHandler. The console runs the handler on a thread of its
//                           own, which takes turns with the main thread through a lock (the
//                           holding), deletes the listed files (created shareable for deletion, so
//                           an open one goes when the process ends) and ends the process with
//                           STATUS_CONTROL_C_EXIT, as the system's default handler would. A forced
//                           end (TerminateProcess, taskkill /F) reaches no handler on Windows.
//
// Threads: one main thread calls everything here; the handler runs asynchronously (POSIX) or on the
// console's thread (Windows). The record lives in main's wiring for the whole process.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>

// One temporary file at the most per output option (--pos1, --frames, --json, --svg).
inline constexpr size_t kGuardedFilesMax = 4;

struct SignalGuard {
    // Temporary files to remove when the process is ended; null marks a free place. Each points at
    // a path kept unchanged by its owner while listed. Changed only between HoldSignals and
    // ReleaseSignals.
    std::array<const char*, kGuardedFilesMax> files{};
    // 1 while the input is a pipe and no Ctrl+C has come yet: the next one only asks for patience.
    std::atomic<int> interruptWaitsForInput{0};
};

// Binds the handler to `guard`. Call once, from main, before the first output is opened. Without
// it the record still lists files, and nothing ever acts on it (tests of the tool run in-process
// this way).
void InstallSignalGuard(SignalGuard& guard);

// Gives every request its default action again and lets go of `guard`, which may then end. Call
// from main once the run is over.
void RemoveSignalGuard(SignalGuard& guard);

// Around a change of the list together with the file operation it stands for (create, rename,
// remove): an ending request that arrives meanwhile waits and is served at ReleaseSignals.
// Never hold across anything that may block for long.
void HoldSignals(SignalGuard& guard);
void ReleaseSignals(SignalGuard& guard);

// Lists `path` (kept unchanged by the caller until it is unlisted). Only while held. Returns false
// when every place is taken, which the caller treats as a failure to create the file.
bool ListTemporaryFile(SignalGuard& guard, const char* path);

// Takes `path` (the same pointer that was listed) off the list. Only while held.
void UnlistTemporaryFile(SignalGuard& guard, const char* path);

// Whether the input being read is a pipe or FIFO, so that the first Ctrl+C waits for its end.
void SetInputFromPipe(SignalGuard& guard, bool fromPipe);
