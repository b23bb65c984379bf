#include "synth/synth_options.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <type_traits>

#include <CLI/CLI.hpp>

namespace synth {

namespace {

// Longest silence accepted on either side, in milliseconds: one hour.
constexpr int32_t kMaxSilenceMs = 3600 * 1000;
// Longest --duration, in seconds.
constexpr double kMaxDurationSeconds = 3600.0;
constexpr size_t kMaxPatternLength = 64;

// The type a field's word is read in: the widest of its kind, so the range check sees any value.
template <typename Field>
using Wide = std::conditional_t<std::is_floating_point_v<Field>, double,
                                std::conditional_t<std::is_signed_v<Field>, int64_t, uint64_t>>;

// A bound as the messages show it: a whole number in full, a real as printf's %g would.
template <typename Number>
std::string ShowBound(Number bound) {
    return (std::ostringstream() << bound).str();
}

template <typename Number>
Number ReadPrefix(const char* text, char** end) {
    if constexpr (std::is_floating_point_v<Number>) {
        return std::strtod(text, end);
    } else if constexpr (std::is_signed_v<Number>) {
        return std::strtoll(text, end, 10);
    } else {
        return std::strtoull(text, end, 10);
    }
}

// `word` read whole as a decimal number in [lo, hi], or the reason it is not one. The C readers
// skip leading blanks, so the word must start cleanly; an unsigned one takes digits only, as
// strtoull would wrap a minus sign.
template <typename Number>
Number ReadNumber(const std::string& word, Number lo, Number hi) {
    const auto first = static_cast<unsigned char>(word.c_str()[0]);
    const bool clean = std::is_unsigned_v<Number> ? std::isdigit(first) != 0
                                                  : first != 0 && std::isspace(first) == 0;
    char* end = nullptr;
    errno = 0;
    const Number value = clean ? ReadPrefix<Number>(word.c_str(), &end) : Number{};
    // The negated range test also rejects NaN; a real's underflow to zero is no error.
    if (!clean || *end != '\0' || (std::is_integral_v<Number> && errno == ERANGE) ||
        !(value >= lo && value <= hi)) {
        throw CLI::ValidationError(
            Fill(std::is_integral_v<Number> ? kSynthTexts.notWholeNumber : kSynthTexts.notNumber,
                 {word, ShowBound(lo), ShowBound(hi)}));
    }
    return value;
}

// Declares an option whose word must be a number in [lo, hi], kept in `field`.
template <typename Field>
void AddNumber(CLI::App& app, const std::string& names, Field& field,
               std::type_identity_t<Wide<Field>> lo, std::type_identity_t<Wide<Field>> hi) {
    app.add_option(names)->each([&field, lo, hi](const std::string& word) {
        field = static_cast<Field>(ReadNumber(word, lo, hi));
    });
}

std::vector<FrameKind> ReadKinds(const std::string& word) {
    if (word.empty() || word.size() > kMaxPatternLength ||
        word.find_first_not_of("AaBb") != std::string::npos) {
        throw CLI::ValidationError(Fill(kSynthTexts.notKinds, {word}));
    }
    std::vector<FrameKind> kinds;
    for (char c : word) kinds.push_back(c == 'A' || c == 'a' ? FrameKind::A : FrameKind::B);
    return kinds;
}

// CLI11 reports a value missing at the end of the line ("--frames: 1 required ...") and a value
// given to a flag ("raw was given a disallowed flag override") as one error type; both name the
// option first, and its kind tells which of them it was.
std::string ValueCountText(const CLI::App& app, const std::string& what) {
    std::string name = what.substr(0, what.find_first_of(": "));
    if (name.rfind("--", 0) != 0) name = "--" + name;
    const CLI::Option* option = app.get_option_no_throw(name);
    const bool flag = option != nullptr && option->get_expected_max() == 0;
    return Fill(flag ? kSynthTexts.takesNoValue : kSynthTexts.needsValue, {name});
}

// A word CLI11 set aside: an option it does not know, or a word where an option was due.
std::string StrayWordText(const std::string& word) {
    const bool option = word.size() == 2 ? word[0] == '-' : word.rfind("--", 0) == 0;
    return Fill(option ? kSynthTexts.unknownOption : kSynthTexts.unexpectedWord, {word});
}

// The rules that need the whole line: an empty text when it holds together.
std::string WholeLineError(const CLI::App& app, const SynthCommand& cmd) {
    const bool byDuration = app.count("--duration") > 0;
    if (cmd.raw == !cmd.outputPath.empty())
        return cmd.raw ? kSynthTexts.twoOutputs : kSynthTexts.noOutput;
    if (byDuration && app.count("--frames") > 0) return kSynthTexts.framesAndDuration;
    if (byDuration && cmd.config.frameCount == 0) return kSynthTexts.tooShort;
    return {};
}

int32_t MillisecondsToSamples(int32_t ms) {
    return static_cast<int32_t>((int64_t{ms} * common::kSampleRateHz + 500) / 1000);
}

}  // namespace

SynthCommand ParseSynthCommand(const std::vector<std::string>& args) {
    SynthCommand cmd;
    SynthConfig& c = cmd.config;
    double durationSeconds = 0.0;
    int32_t silenceBeforeMs = 0;
    int32_t silenceAfterMs = 0;
    bool help = false;
    bool version = false;

    CLI::App app;
    // Our own -h, a plain flag: the help text is ours, and a bad word must win over it.
    app.set_help_flag();
    // Words CLI11 does not take are kept, in order, to be reported in our words.
    app.allow_extras();
    // "/x" is a word on every system, never an option.
    app.allow_windows_style_options(false);
    // A flag given a value is an error, not a way to turn it off.
    app.option_defaults()->disable_flag_override();
    app.add_option("-o,--output")->each([&cmd](const std::string& word) {
        if (word.empty()) throw CLI::ValidationError(kSynthTexts.emptyFileName);
        cmd.outputPath = word;
    });
    app.add_flag("--raw", cmd.raw);
    AddNumber(app, "-n,--frames", c.frameCount, 0, kMaxFrames);
    AddNumber(app, "-d,--duration", durationSeconds, 0.0, kMaxDurationSeconds);
    app.add_option("-k,--kinds")->each([&c](const std::string& word) {
        c.kinds = ReadKinds(word);
    });
    AddNumber(app, "-p,--pos1", c.pos1, 0, common::kPos1Max);
    app.add_flag("--sweep", c.sweep);
    AddNumber(app, "--sweep-step", c.sweepStep, 1, common::kPos1Max);
    AddNumber(app, "--gap", c.gapCells, kMinGapCells, kMaxGapCells);
    AddNumber(app, "--seed", c.seed, 0, UINT64_MAX);
    app.add_flag("--bad-words", c.badWords);
    AddNumber(app, "-c,--cell-length", c.cellLength, kMinCellLength, kMaxCellLength);
    AddNumber(app, "-a,--amplitude", c.amplitude, 0.0, 32767.0);
    AddNumber(app, "--offset", c.offset, -32768.0, 32767.0);
    AddNumber(app, "--noise", c.noise, 0.0, 32767.0);
    app.add_flag("--invert", c.invert);
    AddNumber(app, "--lowpass", c.lowPass, 0.0, 10000.0);
    AddNumber(app, "--silence-before", silenceBeforeMs, 0, kMaxSilenceMs);
    AddNumber(app, "--silence-after", silenceAfterMs, 0, kMaxSilenceMs);
    app.add_flag("-h,--help", help);
    app.add_flag("--version", version);
    // Each word is checked where it stands, so the first bad word on the line is the one reported.
    for (CLI::Option* option : app.get_options()) option->trigger_on_parse();

    try {
        std::vector<std::string> reversed(args.rbegin(), args.rend());
        app.parse(reversed);
    } catch (const CLI::ArgumentMismatch& e) {
        cmd.error = ValueCountText(app, e.what());
    } catch (const CLI::ParseError& e) {
        cmd.error = e.what();
    }
    // A word set aside came before any word that failed.
    if (!app.remaining().empty()) cmd.error = StrayWordText(app.remaining().front());
    c.silenceBefore = MillisecondsToSamples(silenceBeforeMs);
    c.silenceAfter = MillisecondsToSamples(silenceAfterMs);
    // A sweep shows the whole range from the bottom unless told where to start.
    if (c.sweep && app.count("--pos1") == 0) c.pos1 = 0;
    if (app.count("--duration") > 0) c.frameCount = FramesForDuration(c, durationSeconds);
    if (cmd.error.empty() && !help && !version) cmd.error = WholeLineError(app, cmd);

    if (!cmd.error.empty()) {
        cmd.status = ParseStatus::Error;
    } else if (help || version) {
        cmd.status = help ? ParseStatus::Help : ParseStatus::Version;
    }
    return cmd;
}

const char* SynthUsage() {
    return R"(Usage: vorlank-synth (-o FILE.wav | --raw) [options]
Synthesizes the PCM serial signal that Vorlank decodes: 16-bit mono samples at 44100 Hz.

Output (exactly one):
  -o, --output FILE      write a RIFF/WAVE file (PCM, 16-bit, mono, 44100 Hz)
      --raw              write raw s16le samples to standard output, e.g. for
                         paplay --raw --format=s16le --rate=44100 --channels=1
Content:
  -n, --frames N         number of frames, 0..100000 (default 10)
  -d, --duration SEC     as many frames as fit in SEC seconds (excludes --frames)
  -k, --kinds PATTERN    frame kinds, repeated: e.g. A, B, AB, AAB (default AB)
  -p, --pos1 V           Pos1 carried by every kind-B frame, 0..1023 (default 512);
                         with --sweep, the value the sweep starts from (default 0)
      --sweep            Pos1 sweeps 0 -> 1023 -> 0 ..., one step per kind-B frame
      --sweep-step N     Pos1 change per kind-B frame when sweeping, 1..1023 (default 1)
      --gap N            0-cells before every sync and at the end, 2..7 (default 4)
      --seed N           seed of payload symbols and noise, 64-bit (default 1)
      --bad-words        every code word outside the code: syncs and headers are right,
                         but every frame fails at its first word (no Pos1)
Rendering:
  -c, --cell-length S    samples per bit cell, 3..100 (default 6.623)
  -a, --amplitude A      peak amplitude, 0..32767 (default 10000)
      --offset V         DC offset, -32768..32767 (default 0)
      --noise SIGMA      standard deviation of Gaussian noise (default 0)
      --invert           inverted polarity: sync run negative
      --lowpass TAU      first-order low-pass time constant in samples (default 0: off)
      --silence-before MS  silence before the signal, milliseconds (default 0)
      --silence-after MS   silence after the signal, milliseconds (default 0)
  -h, --help             show this text
      --version          show the version

Long options also take their value as --name=VALUE. Samples are clipped to 16 bits.
A summary line goes to standard error:
  frames=N kindA=N kindB=N pos1First=V pos1Last=V samples=N seconds=S
Exit codes: 0 done, 1 output could not be written, 2 bad command line.
)";
}

std::string FormatSummary(const SynthSummary& s) {
    const bool anyB = !s.pos1Values.empty();
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.3f",
                  static_cast<double>(s.sampleCount) / common::kSampleRateHz);
    return Fill(
        kSynthTexts.summary,
        {std::to_string(s.framesA + s.framesB), std::to_string(s.framesA),
         std::to_string(s.framesB), anyB ? std::to_string(s.pos1Values.front()) : "-",
         anyB ? std::to_string(s.pos1Values.back()) : "-", std::to_string(s.sampleCount), seconds});
}

}  // namespace synth
