// Command line of vorlank-analyze and the whole run from words to exit code, kept apart from main
// so that tests can drive it with their own files and output streams.
//
//   vorlank-analyze [--raw [--format u8|s16le|s24le|s32le|float32le] [--rate HZ] [--channels N]]
//                   [--channel K] [--pos1 FILE.csv] [--frames FILE.csv] [--json FILE]
//                   [--svg FILE.svg] FILE
//   vorlank-analyze --help | --version
//
// An output named "-" goes to standard output, in place of the text report.
//
// Options may stand before or after FILE; "--" ends the options (for a FILE that starts with '-').
//
// Threads: one caller.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "analyze/input_reader.h"
#include "analyze/signal_guard.h"

inline constexpr int kExitOk = 0;
// The input cannot be read, is corrupt or in another format, or is a stream that brought nothing.
inline constexpr int kExitBadInput = 1;
// The command line is wrong, an output names the input, or the channel asked for is not there.
inline constexpr int kExitUsage = 2;
inline constexpr int kExitOutput = 3;  // an output could not be written, the text report included

struct AnalyzeOptions {
    bool help = false;
    bool version = false;    // --version: print the program name and version, nothing else
    std::string input;       // "-": standard input
    InputRequest request;    // --raw and its layout, --channel
    std::string pos1Path;    // empty: no Pos1 CSV
    std::string framesPath;  // empty: no frames CSV
    std::string jsonPath;    // empty: no JSON
    std::string svgPath;     // empty: no picture
};

// `args` are the words after the program name. Returns false with a one-line `error` (no program
// name, no line feed) when they do not form a command.
bool ParseAnalyzeArgs(const std::vector<std::string>& args, AnalyzeOptions& options,
                      std::string& error);

const char* AnalyzeUsage();

// Runs the whole tool: the report goes to `out`, messages to `err` as
// "vorlank-analyze: <what>: <why>\n"; the temporary files of the outputs are listed with `guard`
// while they exist, and it learns whether the input is a pipe. Returns the exit code.
int RunAnalyze(const std::vector<std::string>& args, std::FILE* out, std::FILE* err,
               SignalGuard& guard);
