// Command line of vorlank-analyze and the whole run from words to exit code, kept apart from main
// so that tests can drive it with their own files and output streams. Threads: one caller.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "analyze/input_reader.h"
#include "analyze/signal_guard.h"

namespace analyze {

inline constexpr int kExitOk = 0;
// The input cannot be read, is corrupt or in another format, or is a stream that brought nothing.
inline constexpr int kExitBadInput = 1;
// The command line is wrong, an output names the input, or the channel asked for is not there.
inline constexpr int kExitUsage = 2;
// An output could not be written, the text report included.
inline constexpr int kExitOutput = 3;

// The texts of the command line and the run on standard error, after "vorlank-analyze: "; each
// %s takes the next word in turn. The input's own messages come from input_reader.h.
inline constexpr struct CliTexts {
    const char* unknownOption = "unknown option '%s'";
    const char* twoInputs = "more than one input file ('%s' and '%s')";
    const char* noInput = "no input file";
    const char* needsFileName = "%s needs a file name";
    const char* needsValue = "%s needs a value";
    const char* twice = "%s given twice";
    const char* badValue = "%s must be %s, not '%s'";
    const char* rawOnly =
        "%s describes raw samples: give --raw as well (a recording's header says it)";
    const char* beyondChannels = "--channel %s is beyond --channels %s";
    const char* sameFile = "%s and %s name the same file";
    // The line after any of the above
    const char* tryHelp = "Try 'vorlank-analyze --help'.";
    // After "vorlank-analyze: OUTPUT: "
    const char* overwritesInput = "refusing to overwrite the input";
    // After "vorlank-analyze: standard input"
    const char* isEmpty = "is empty";
} kCliTexts;

struct AnalyzeOptions {
    bool help = false;
    // --version: print the program name and version, nothing else
    bool version = false;
    // "-": standard input
    std::string input;
    // --raw and its layout, --channel
    InputRequest request;
    // The outputs; empty for none, "-" for standard output in place of the text report
    std::string pos1Path;
    std::string framesPath;
    std::string jsonPath;
    std::string svgPath;
};

// `args` are the words after the program name. Returns false with a one-line `error` (no program
// name, no line feed) when they do not form a command.
bool ParseAnalyzeArgs(const std::vector<std::string>& args, AnalyzeOptions& options,
                      std::string& error);

// Runs the whole tool: the report goes to `out`, messages to `err` as
// "vorlank-analyze: <what>: <why>\n"; the temporary files of the outputs are listed with `guard`
// while they exist, and it learns whether the input is a pipe. Returns the exit code.
int RunAnalyze(const std::vector<std::string>& args, std::FILE* out, std::FILE* err,
               SignalGuard& guard);

}  // namespace analyze
