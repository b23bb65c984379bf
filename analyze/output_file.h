// The output files of vorlank-analyze (--pos1, --frames, --json, --svg, the text report): written
// all or nothing, never leaving a half-written file or removing one it did not create.
// Threads: a record belongs to one caller.
#pragma once

#include <cstdarg>
#include <cstdio>
#include <string>

#include "analyze/signal_guard.h"

namespace analyze {

// What went wrong with an output, after "vorlank-analyze: OUTPUT: "; %s takes the system's reason.
inline constexpr struct OutputTexts {
    const char* cannotCreate = "cannot create the file: %s";
    const char* tooManyTemporary = "too many temporary files at once";
    const char* cannotOpen = "cannot open it for writing: %s";
    const char* writeFailed = "writing failed: %s";
    const char* cannotReplace = "cannot replace it: %s";
} kOutputTexts;

// A regular file, a link to one or nothing is staged in a temporary file beside the target and
// renamed over it at the end; "-" or /dev/stdout is the caller's stream; anything else (a device,
// a FIFO) is written straight through.
struct OutputFile {
    // As the user gave it, for messages
    std::string path;
    // Where the output goes while the run lasts
    std::FILE* file = nullptr;
    // The caller's standard output: flushed at the end, never closed
    bool shared = false;
    // Staged outputs: the file the temporary file replaces (a link's target) and the temporary file
    std::string target;
    std::string tempPath;
    // errno of the first write that failed, 0 while none has
    int failure = 0;
};

// MinGW's checking would flag <cinttypes>' C99 modifiers; the Linux builds check.
#if defined(__GNUC__) && !defined(__MINGW32__)
#define OUTPUT_PRINTF_LIKE(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define OUTPUT_PRINTF_LIKE(fmt, args)
#endif

// Writes into an open output, printf-style or as bytes; the first failure's errno is kept for the
// message. EmitFlush hands what is written on now, for a reader that follows line by line.
void Emit(OutputFile& output, const char* format, ...) OUTPUT_PRINTF_LIKE(2, 3);
void EmitV(OutputFile& output, const char* format, va_list args);
void EmitBytes(OutputFile& output, const char* bytes, size_t count);
void EmitFlush(OutputFile& output);

// Opens `output.path` the way it calls for; a temporary file is listed with `guard`. Returns false
// with `error` set ("cannot create the file: Permission denied").
bool OpenOutput(OutputFile& output, std::FILE* standardOutput, SignalGuard& guard,
                std::string& error);

// Flushes everything written so far; false with `error` set when any write has failed.
bool FlushOutput(OutputFile& output, std::string& error);

// Puts a written output in its place (renames a staged one); false with `error` set when that
// fails, AbandonOutput then cleans up.
bool CommitOutput(OutputFile& output, SignalGuard& guard, std::string& error);

// After a failed run: removes a staged output's temporary file, leaves the path as it stands.
void AbandonOutput(OutputFile& output, SignalGuard& guard);

}  // namespace analyze
