// The output files of vorlank-analyze (--pos1, --frames, --json, --svg).
//
// A run that fails part-way (a corrupt input, a full disk) must not leave a half-written file where
// a result was, and must not remove anything it did not create itself. So an output is written
// according to what stands at its path when the run starts:
//
//   nothing, or a regular file      into a temporary file beside it, which replaces it only when
//                                   the run has succeeded (taking over the old file's permissions)
//   a symbolic link to a regular    into a temporary file beside the link, whose content is copied
//   file                            through the link when the run has succeeded: link and target
//                                   stay the very files they were
//   "-", or a path to the caller's  into the standard output stream (so /dev/stdout works however
//   standard output (/dev/stdout)   standard output is redirected, and nothing written to it is
//   lost) anything else: a device, a      straight through, from the start, as it stands; never
//   removed FIFO, a link to one of them
//
// A failed run removes only its own temporary files, and so does a run ended by a signal: each
// temporary file is listed with the signal guard for exactly as long as it exists. Messages carry
// the system's reason.
//
// Threads: a record belongs to one caller.
#pragma once

#include <cstdarg>
#include <cstdio>
#include <string>

#include "analyze/signal_guard.h"

enum class OutputWay {
    Staged,             // temporary file renamed over the path
    StagedThroughLink,  // temporary file copied through the link
    Shared,             // the caller's standard output
    Through,            // written as it stands
};

struct OutputFile {
    std::string path;                   // as the user gave it
    std::FILE* file = nullptr;          // where the output goes while the run lasts
    OutputWay way = OutputWay::Staged;  // chosen by OpenOutput
    std::string tempPath;               // staged outputs: the temporary file
    int failure = 0;                    // errno of the first write that failed, 0 while none has
};

// MinGW's printf checking follows the Microsoft runtime and would flag the C99 length modifiers
// that <cinttypes> hands out; the Linux builds do the checking.
#if defined(__GNUC__) && !defined(__MINGW32__)
#define OUTPUT_PRINTF_LIKE(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define OUTPUT_PRINTF_LIKE(fmt, args)
#endif

// Writes into an open output, printf-style or as bytes. The reason of the first failure is kept
// for the message, since whatever runs after it may overwrite errno.
void Emit(OutputFile& output, const char* format, ...) OUTPUT_PRINTF_LIKE(2, 3);
void EmitV(OutputFile& output, const char* format, va_list args);
void EmitBytes(OutputFile& output, const char* bytes, size_t count);

// Hands what has been written so far on to the file now, for a reader that follows it line by
// line; a failure is kept as Emit keeps it.
void EmitFlush(OutputFile& output);

// Opens `output.path` (set by the caller) for writing, the way its path calls for; a temporary
// file is listed with `guard`. Returns false with `error` set ("cannot create the file: Permission
// denied").
bool OpenOutput(OutputFile& output, std::FILE* standardOutput, SignalGuard& guard,
                std::string& error);

// Flushes everything written so far. Returns false with `error` set ("writing failed: No space
// left on device") when any write has failed, through Emit or straight into `file`.
bool FlushOutput(OutputFile& output, std::string& error);

// Puts a written output in its place: renames or copies a staged one (its temporary file then
// unlisted), closes the others (never the standard output). Returns false with `error` set when
// that fails; AbandonOutput then cleans up.
bool CommitOutput(OutputFile& output, SignalGuard& guard, std::string& error);

// Gives an output up after a failed run: a staged output's temporary file is removed, whatever
// stands at the path is left as it is.
void AbandonOutput(OutputFile& output, SignalGuard& guard);
