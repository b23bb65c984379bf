// Command line of vorlank-synth, read with CLI11: its words become a SynthConfig plus the output
// choice, or one line of error from kSynthTexts. Kept apart from main so every rejection is tested.
// No shared state.
#pragma once

#include <string>
#include <vector>

#include "common/fill_text.h"
#include "synth/signal_synth.h"

namespace synth {

enum class ParseStatus { Run, Help, Version, Error };

inline constexpr int kExitOk = 0;
inline constexpr int kExitWriteFailed = 1;
inline constexpr int kExitUsage = 2;

// Every text vorlank-synth writes to standard error, each on a line after "vorlank-synth: " but
// tryHelp, a line of its own; Fill gives each %s its word in turn.
inline constexpr struct SynthTexts {
    const char* unknownOption = "unknown option '%s'";
    const char* unexpectedWord = "unexpected argument '%s'";
    const char* needsValue = "%s needs a value";
    const char* takesNoValue = "%s takes no value";
    // The option's name comes before these four, as "--gap: ".
    const char* notWholeNumber = "'%s' is not a whole number from %s to %s";
    const char* notNumber = "'%s' is not a number from %s to %s";
    const char* notKinds = "'%s' is not a pattern of 1 to 64 letters A and B";
    const char* emptyFileName = "the file name is empty";
    const char* noOutput = "choose an output: -o FILE.wav or --raw";
    const char* twoOutputs = "--raw and --output exclude each other";
    const char* framesAndDuration = "--frames and --duration exclude each other";
    const char* tooShort = "--duration: too short for a single frame";
    // The line after any of the above
    const char* tryHelp = "Try 'vorlank-synth --help'.";
    const char* cannotWriteStdout = "cannot write samples to standard output";
    const char* cannotWriteFile = "cannot write %s: %s";
    // After a successful run; the Pos1 fields are '-' when no kind-B frame was made.
    const char* summary =
        "frames=%s kindA=%s kindB=%s pos1First=%s pos1Last=%s samples=%s seconds=%s";
} kSynthTexts;

using common::Fill;

struct SynthCommand {
    ParseStatus status = ParseStatus::Run;
    // With ParseStatus::Error: one line, without program name or line feed.
    std::string error;
    // frameCount already derived from --duration if that was given
    SynthConfig config;
    // WAV file, when not raw
    std::string outputPath;
    // raw s16le samples on stdout
    bool raw = false;
};

// `args` are the words after the program name. A bad word wins over --help, which wins over
// --version and over a missing output.
SynthCommand ParseSynthCommand(const std::vector<std::string>& args);

// The --help text, several lines, ending in a line feed.
const char* SynthUsage();

// The summary line of a run (kSynthTexts.summary), without line feed.
std::string FormatSummary(const SynthSummary& summary);

}  // namespace synth
