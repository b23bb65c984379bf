// vorlank-synth: writes a synthesized PCM serial signal as a WAV file or raw samples on stdout.
#include <cstdio>
#include <string>

#include "common/version.h"
#include "synth/binary_stdout.h"
#include "synth/signal_synth.h"
#include "synth/synth_options.h"
#include "synth/wav_file.h"

namespace synth {
namespace {

// One line on stderr, after the program's name.
void PrintLine(const std::string& text) {
    std::fprintf(stderr, "vorlank-synth: %s\n", text.c_str());
}

}  // namespace
}  // namespace synth

int main(int argc, char** argv) {
    const synth::SynthCommand cmd = synth::ParseSynthCommand({argv + 1, argv + argc});
    if (cmd.status == synth::ParseStatus::Help) {
        std::fputs(synth::SynthUsage(), stdout);
        return synth::kExitOk;
    }
    if (cmd.status == synth::ParseStatus::Version) {
        std::printf("vorlank-synth %s\n", common::kVersion);
        return synth::kExitOk;
    }
    if (cmd.status == synth::ParseStatus::Error) {
        synth::PrintLine(cmd.error);
        std::fprintf(stderr, "%s\n", synth::kSynthTexts.tryHelp);
        return synth::kExitUsage;
    }

    const synth::SynthResult result = synth::Synthesize(cmd.config);
    if (cmd.raw) {
        if (!synth::SetStdoutBinary() || !synth::WriteRaw(stdout, result.samples)) {
            synth::PrintLine(synth::kSynthTexts.cannotWriteStdout);
            return synth::kExitWriteFailed;
        }
    } else {
        std::string error;
        if (!synth::WriteWavFile(cmd.outputPath, result.samples, error)) {
            synth::PrintLine(
                synth::Fill(synth::kSynthTexts.cannotWriteFile, {cmd.outputPath, error}));
            return synth::kExitWriteFailed;
        }
    }
    synth::PrintLine(synth::FormatSummary(result.summary));
    return synth::kExitOk;
}
