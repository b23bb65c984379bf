#include "synth/synth_options.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace synth {

namespace {

struct OptionDef {
    std::string_view name;  // long form, without the leading dashes
    char shortName;         // 0 when there is no short form
    bool takesValue;
};

constexpr OptionDef kOptions[] = {
    {"output", 'o', true},       {"raw", 0, false},          {"frames", 'n', true},
    {"duration", 'd', true},     {"kinds", 'k', true},       {"pos1", 'p', true},
    {"sweep", 0, false},         {"sweep-step", 0, true},    {"gap", 0, true},
    {"cell-length", 'c', true},  {"amplitude", 'a', true},   {"offset", 0, true},
    {"noise", 0, true},          {"invert", 0, false},       {"lowpass", 0, true},
    {"silence-before", 0, true}, {"silence-after", 0, true}, {"seed", 0, true},
    {"help", 'h', false},        {"version", 0, false},
};

// Longest silence accepted on either side, in milliseconds: one hour.
constexpr int64_t kMaxSilenceMs = int64_t{3600} * 1000;
constexpr double kMaxDurationSeconds = 3600.0;
constexpr size_t kMaxPatternLength = 64;

const OptionDef* FindLong(std::string_view name) {
    for (const OptionDef& def : kOptions) {
        if (def.name == name) return &def;
    }
    return nullptr;
}

const OptionDef* FindShort(char c) {
    for (const OptionDef& def : kOptions) {
        if (def.shortName != 0 && def.shortName == c) return &def;
    }
    return nullptr;
}

// strtoll and strtod skip leading blanks and take a sign; a value must be the whole word.
bool StartsCleanly(const std::string& text) {
    return !text.empty() && std::isspace(static_cast<unsigned char>(text[0])) == 0;
}

std::string RangeError(std::string_view name, const std::string& text, const char* what,
                       const std::string& lo, const std::string& hi) {
    return "--" + std::string(name) + ": '" + text + "' is not " + what + " from " + lo + " to " +
           hi;
}

bool ReadInt(std::string_view name, const std::string& text, int64_t lo, int64_t hi, int64_t& out,
             std::string& error) {
    char* end = nullptr;
    errno = 0;
    const long long v = StartsCleanly(text) ? std::strtoll(text.c_str(), &end, 10) : 0;
    if (!StartsCleanly(text) || *end != '\0' || errno == ERANGE || v < lo || v > hi) {
        error = RangeError(name, text, "a whole number", std::to_string(lo), std::to_string(hi));
        return false;
    }
    out = v;
    return true;
}

std::string FormatReal(double v) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%g", v);
    return buffer;
}

bool ReadReal(std::string_view name, const std::string& text, double lo, double hi, double& out,
              std::string& error) {
    char* end = nullptr;
    const double v = StartsCleanly(text) ? std::strtod(text.c_str(), &end) : 0.0;
    // The negated range test also rejects NaN; infinities fall outside every range.
    if (!StartsCleanly(text) || *end != '\0' || !(v >= lo && v <= hi)) {
        error = RangeError(name, text, "a number", FormatReal(lo), FormatReal(hi));
        return false;
    }
    out = v;
    return true;
}

bool ReadSeed(const std::string& text, uint64_t& out, std::string& error) {
    char* end = nullptr;
    errno = 0;
    // strtoull would silently wrap a leading minus sign, so only digits are accepted.
    const bool digits = !text.empty() && std::isdigit(static_cast<unsigned char>(text[0])) != 0;
    const unsigned long long v = digits ? std::strtoull(text.c_str(), &end, 10) : 0;
    if (!digits || *end != '\0' || errno == ERANGE) {
        error = "--seed: '" + text + "' is not a whole number from 0 to 18446744073709551615";
        return false;
    }
    out = v;
    return true;
}

bool ReadKinds(const std::string& text, std::vector<FrameKind>& kinds, std::string& error) {
    std::vector<FrameKind> parsed;
    for (char c : text) {
        if (c == 'A' || c == 'a') {
            parsed.push_back(FrameKind::A);
        } else if (c == 'B' || c == 'b') {
            parsed.push_back(FrameKind::B);
        } else {
            parsed.clear();
            break;
        }
    }
    if (parsed.empty() || parsed.size() > kMaxPatternLength) {
        error = "--kinds: '" + text + "' is not a pattern of 1 to 64 letters A and B";
        return false;
    }
    kinds = parsed;
    return true;
}

int32_t MillisecondsToSamples(int64_t ms) {
    return static_cast<int32_t>((ms * kSampleRateHz + 500) / 1000);
}

// Values that need the whole command line before they can be applied.
struct Pending {
    bool framesGiven = false;
    bool durationGiven = false;
    double durationSeconds = 0.0;
    bool pos1Given = false;
};

bool Apply(SynthCommand& cmd, Pending& pending, std::string_view name, const std::string& value) {
    SynthConfig& c = cmd.config;
    std::string& error = cmd.error;
    int64_t n = 0;
    if (name == "output") {
        if (value.empty()) {
            error = "--output: the file name is empty";
            return false;
        }
        cmd.outputPath = value;
    } else if (name == "raw") {
        cmd.raw = true;
    } else if (name == "frames") {
        if (!ReadInt(name, value, 0, kMaxFrames, n, error)) return false;
        c.frameCount = static_cast<int32_t>(n);
        pending.framesGiven = true;
    } else if (name == "duration") {
        if (!ReadReal(name, value, 0.0, kMaxDurationSeconds, pending.durationSeconds, error))
            return false;
        pending.durationGiven = true;
    } else if (name == "kinds") {
        return ReadKinds(value, c.kinds, error);
    } else if (name == "pos1") {
        if (!ReadInt(name, value, 0, kPos1Max, n, error)) return false;
        c.pos1 = static_cast<int32_t>(n);
        pending.pos1Given = true;
    } else if (name == "sweep") {
        c.sweep = true;
    } else if (name == "sweep-step") {
        if (!ReadInt(name, value, 1, kPos1Max, n, error)) return false;
        c.sweepStep = static_cast<int32_t>(n);
    } else if (name == "gap") {
        if (!ReadInt(name, value, kMinGapCells, kMaxGapCells, n, error)) return false;
        c.gapCells = static_cast<int32_t>(n);
    } else if (name == "cell-length") {
        return ReadReal(name, value, kMinCellLength, kMaxCellLength, c.cellLength, error);
    } else if (name == "amplitude") {
        return ReadReal(name, value, 0.0, 32767.0, c.amplitude, error);
    } else if (name == "offset") {
        return ReadReal(name, value, -32768.0, 32767.0, c.offset, error);
    } else if (name == "noise") {
        return ReadReal(name, value, 0.0, 32767.0, c.noise, error);
    } else if (name == "invert") {
        c.invert = true;
    } else if (name == "lowpass") {
        return ReadReal(name, value, 0.0, 10000.0, c.lowPass, error);
    } else if (name == "silence-before") {
        if (!ReadInt(name, value, 0, kMaxSilenceMs, n, error)) return false;
        c.silenceBefore = MillisecondsToSamples(n);
    } else if (name == "silence-after") {
        if (!ReadInt(name, value, 0, kMaxSilenceMs, n, error)) return false;
        c.silenceAfter = MillisecondsToSamples(n);
    } else if (name == "seed") {
        return ReadSeed(value, c.seed, error);
    } else if (name == "help") {
        cmd.status = ParseStatus::Help;
    } else if (name == "version" && cmd.status != ParseStatus::Help) {
        cmd.status = ParseStatus::Version;
    }
    return true;
}

// Checks that need every option: output choice, frame count from the duration.
bool Finish(SynthCommand& cmd, const Pending& pending) {
    if (cmd.raw == !cmd.outputPath.empty()) {
        cmd.error = cmd.raw ? "--raw and --output exclude each other"
                            : "choose an output: -o FILE.wav or --raw";
        return false;
    }
    if (pending.framesGiven && pending.durationGiven) {
        cmd.error = "--frames and --duration exclude each other";
        return false;
    }
    // A sweep shows the whole range from the bottom unless told where to start.
    if (cmd.config.sweep && !pending.pos1Given) cmd.config.pos1 = 0;
    if (pending.durationGiven) {
        cmd.config.frameCount = FramesForDuration(cmd.config, pending.durationSeconds);
        if (cmd.config.frameCount == 0) {
            cmd.error = "--duration: too short for a single frame";
            return false;
        }
    }
    cmd.error = CheckConfig(cmd.config);
    return cmd.error.empty();
}

}  // namespace

SynthCommand ParseSynthCommand(const std::vector<std::string>& args) {
    SynthCommand cmd;
    Pending pending;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& word = args[i];
        const OptionDef* def = nullptr;
        std::string value;
        bool inlineValue = false;
        if (word.size() > 2 && word.compare(0, 2, "--") == 0) {
            const size_t eq = word.find('=');
            def = FindLong(std::string_view(word).substr(
                2, eq == std::string::npos ? std::string::npos : eq - 2));
            if (eq != std::string::npos) {
                value = word.substr(eq + 1);
                inlineValue = true;
            }
        } else if (word.size() == 2 && word[0] == '-') {
            def = FindShort(word[1]);
        } else {
            cmd.status = ParseStatus::Error;
            cmd.error = "unexpected argument '" + word + "'";
            return cmd;
        }
        if (def == nullptr) {
            cmd.status = ParseStatus::Error;
            cmd.error = "unknown option '" + word + "'";
            return cmd;
        }
        if (!def->takesValue && inlineValue) {
            cmd.status = ParseStatus::Error;
            cmd.error = "--" + std::string(def->name) + " takes no value";
            return cmd;
        }
        if (def->takesValue && !inlineValue) {
            if (i + 1 >= args.size()) {
                cmd.status = ParseStatus::Error;
                cmd.error = "--" + std::string(def->name) + " needs a value";
                return cmd;
            }
            value = args[++i];
        }
        if (!Apply(cmd, pending, def->name, value)) {
            cmd.status = ParseStatus::Error;
            return cmd;
        }
    }
    if (cmd.status == ParseStatus::Help || cmd.status == ParseStatus::Version) return cmd;
    if (!Finish(cmd, pending)) cmd.status = ParseStatus::Error;
    return cmd;
}

const char* SynthUsage() {
    return "Usage: vorlank-synth (-o FILE.wav | --raw) [options]\n"
           "Synthesizes the PCM serial signal that Vorlank decodes: 16-bit mono samples at 44100 "
           "Hz.\n"
           "\n"
           "Output (exactly one):\n"
           "  -o, --output FILE      write a RIFF/WAVE file (PCM, 16-bit, mono, 44100 Hz)\n"
           "      --raw              write raw s16le samples to standard output, e.g. for\n"
           "                         paplay --raw --format=s16le --rate=44100 --channels=1\n"
           "Content:\n"
           "  -n, --frames N         number of frames, 0..100000 (default 10)\n"
           "  -d, --duration SEC     as many frames as fit in SEC seconds (excludes --frames)\n"
           "  -k, --kinds PATTERN    frame kinds, repeated: e.g. A, B, AB, AAB (default AB)\n"
           "  -p, --pos1 V           Pos1 carried by every kind-B frame, 0..1023 (default 512);\n"
           "                         with --sweep, the value the sweep starts from (default 0)\n"
           "      --sweep            Pos1 sweeps 0 -> 1023 -> 0 ..., one step per kind-B frame\n"
           "      --sweep-step N     Pos1 change per kind-B frame when sweeping, 1..1023 (default "
           "1)\n"
           "      --gap N            0-cells before every sync and at the end, 2..7 (default 4)\n"
           "      --seed N           seed of payload symbols and noise, 64-bit (default 1)\n"
           "Rendering:\n"
           "  -c, --cell-length S    samples per bit cell, 3..100 (default 6.623)\n"
           "  -a, --amplitude A      peak amplitude, 0..32767 (default 10000)\n"
           "      --offset V         DC offset, -32768..32767 (default 0)\n"
           "      --noise SIGMA      standard deviation of Gaussian noise (default 0)\n"
           "      --invert           inverted polarity: sync run negative\n"
           "      --lowpass TAU      first-order low-pass time constant in samples (default 0: "
           "off)\n"
           "      --silence-before MS  silence before the signal, milliseconds (default 0)\n"
           "      --silence-after MS   silence after the signal, milliseconds (default 0)\n"
           "  -h, --help             show this text\n"
           "      --version          show the version\n"
           "\n"
           "Long options also take their value as --name=VALUE. Samples are clipped to 16 bits.\n"
           "A summary line goes to standard error:\n"
           "  frames=N kindA=N kindB=N pos1First=V pos1Last=V samples=N seconds=S\n"
           "Exit codes: 0 done, 1 output could not be written, 2 bad command line.\n";
}

std::string FormatSummary(const SynthSummary& s) {
    std::string first = "-";
    std::string last = "-";
    if (!s.pos1Values.empty()) {
        first = std::to_string(s.pos1Values.front());
        last = std::to_string(s.pos1Values.back());
    }
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.3f",
                  static_cast<double>(s.sampleCount) / kSampleRateHz);
    return "frames=" + std::to_string(s.framesA + s.framesB) +
           " kindA=" + std::to_string(s.framesA) + " kindB=" + std::to_string(s.framesB) +
           " pos1First=" + first + " pos1Last=" + last +
           " samples=" + std::to_string(s.sampleCount) + " seconds=" + seconds;
}

}  // namespace synth
