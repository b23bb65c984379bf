// vorlank-synth: writes a synthesized PCM serial signal as a WAV file or raw samples on stdout.
#include <cstdio>
#include <string>
#include <vector>

#include "common/version.h"
#include "synth/binary_stdout.h"
#include "synth/signal_synth.h"
#include "synth/synth_options.h"
#include "synth/wav_file.h"

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    const synth::SynthCommand cmd = synth::ParseSynthCommand(args);
    if (cmd.status == synth::ParseStatus::Help) {
        std::fputs(synth::SynthUsage(), stdout);
        return synth::kExitOk;
    }
    if (cmd.status == synth::ParseStatus::Version) {
        std::printf("vorlank-synth %s\n", kVorlankVersion);
        return synth::kExitOk;
    }
    if (cmd.status == synth::ParseStatus::Error) {
        std::fprintf(stderr, "vorlank-synth: %s\nTry 'vorlank-synth --help'.\n", cmd.error.c_str());
        return synth::kExitUsage;
    }

    const synth::SynthResult result = synth::Synthesize(cmd.config);
    if (cmd.raw) {
        if (!synth::SetStdoutBinary() || !synth::WriteRaw(stdout, result.samples)) {
            std::fprintf(stderr, "vorlank-synth: cannot write samples to standard output\n");
            return synth::kExitWriteFailed;
        }
    } else {
        std::string error;
        if (!synth::WriteWavFile(cmd.outputPath, result.samples, error)) {
            std::fprintf(stderr, "vorlank-synth: cannot write %s: %s\n", cmd.outputPath.c_str(),
                         error.c_str());
            return synth::kExitWriteFailed;
        }
    }
    std::fprintf(stderr, "vorlank-synth: %s\n", synth::FormatSummary(result.summary).c_str());
    return synth::kExitOk;
}
