// Command line of vorlank-synth: turns its words into a SynthConfig plus the output choice, and
// formats the summary line. Kept apart from main so every rejection can be tested.
//
// Options take their value as the next word or, in long form, after '=' (--noise=200). Numbers
// must be whole words in range: "12x", "", " 5", "nan" and "inf" are all rejected.
#pragma once

#include <string>
#include <vector>

#include "synth/signal_synth.h"

namespace synth {

enum class ParseStatus {
    Run,      // options are complete and valid
    Help,     // --help: print SynthUsage and exit 0
    Version,  // --version: print the program name and version and exit 0
    Error,    // print `error` on stderr and exit kExitUsage
};

inline constexpr int kExitOk = 0;
inline constexpr int kExitWriteFailed = 1;
inline constexpr int kExitUsage = 2;

struct SynthCommand {
    ParseStatus status = ParseStatus::Run;
    std::string error;       // one line, without program name or line feed
    SynthConfig config;      // frameCount already derived from --duration if that was given
    std::string outputPath;  // WAV file, when not raw
    bool raw = false;        // raw s16le samples on stdout
};

// `args` are the words after the program name.
SynthCommand ParseSynthCommand(const std::vector<std::string>& args);

// The --help text, several lines, ending in a line feed.
const char* SynthUsage();

// "frames=N kindA=N kindB=N pos1First=V pos1Last=V samples=N seconds=S", with '-' for the Pos1
// fields when no kind-B frame was made. No line feed.
std::string FormatSummary(const SynthSummary& summary);

}  // namespace synth
