#include "analyze/analyze_cli.h"

#include <algorithm>
#include <array>
#include <filesystem>
#include <set>
#include <stdexcept>
#include <system_error>

#include <CLI/CLI.hpp>

#include "analyze/advice.h"
#include "analyze/analysis.h"
#include "analyze/file_access.h"
#include "analyze/output_file.h"
#include "analyze/report.h"
#include "analyze/svg_picture.h"
#include "analyze/texts.h"
#include "common/version.h"

namespace analyze {

namespace {

constexpr const char* kProgram = "vorlank-analyze";

// A whole number from `low` to `high`, in decimal digits only.
bool WholeNumber(const std::string& text, int32_t low, int32_t high, int32_t& number) {
    if (text.empty() || text.size() > 9 ||
        text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    const int32_t value = std::stoi(text);
    if (value < low || value > high) return false;
    number = value;
    return true;
}

// The options with a value, in the order the help names them. An output sets `path`; the others
// say how to read the input: `rawOnly` ones need --raw, `expects` says what the value must be.
struct ValueOption {
    const char* name;
    std::string AnalyzeOptions::*path;
    bool rawOnly;
    const char* expects;
    bool (*take)(const std::string& value, InputRequest& request);
};

const ValueOption kValueOptions[] = {
    {"--format", nullptr, true, "one of u8, s16le, s24le, s32le, float32le",
     [](const std::string& v, InputRequest& r) { return ParseRawEncoding(v, r.layout.encoding); }},
    {"--rate", nullptr, true, "a whole number of samples per second from 1000 to 1000000",
     [](const std::string& v, InputRequest& r) {
         return WholeNumber(v, kMinSampleRate, kMaxSampleRate, r.layout.rate);
     }},
    {"--channels", nullptr, true, "a whole number from 1 to 1024",
     [](const std::string& v, InputRequest& r) {
         return WholeNumber(v, 1, kMaxChannels, r.layout.channels);
     }},
    {"--channel", nullptr, false, "a whole number from 1 to 1024",
     [](const std::string& v, InputRequest& r) {
         return WholeNumber(v, 1, kMaxChannels, r.channel);
     }},
    {"--pos1", &AnalyzeOptions::pos1Path, false, "", nullptr},
    {"--frames", &AnalyzeOptions::framesPath, false, "", nullptr},
    {"--json", &AnalyzeOptions::jsonPath, false, "", nullptr},
    {"--svg", &AnalyzeOptions::svgPath, false, "", nullptr},
};

const ValueOption* FindValueOption(const std::string& name) {
    for (const ValueOption& o : kValueOptions) {
        if (name == o.name) return &o;
    }
    return nullptr;
}

// The words as CLI11 takes them: each value glued on as "--name=VALUE" whatever it looks like
// ("-", "-x", "--"), an empty or missing one as the two words "--name" "". The words stop before
// the first one that is no option of ours (a flag given a value too), which goes to `unknown`.
std::vector<std::string> CliWords(const std::vector<std::string>& args, std::string& unknown) {
    std::vector<std::string> words;
    bool ended = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& word = args[i];
        const size_t equals = word.find('=');
        const ValueOption* option = FindValueOption(word.substr(0, equals));
        if (ended || word.size() < 2 || word[0] != '-' || word == "--" || word == "--raw" ||
            word == "-h" || word == "--help" || word == "--version") {
            ended = ended || word == "--";
            words.push_back(word);
        } else if (option != nullptr) {
            const bool glued = equals != std::string::npos;
            const std::string value = glued                 ? word.substr(equals + 1)
                                      : i + 1 < args.size() ? args[++i]
                                                            : std::string();
            words.push_back(value.empty() ? option->name : std::string(option->name) + "=" + value);
            if (value.empty()) words.emplace_back();
        } else {
            unknown = word;
            break;
        }
    }
    return words;
}

// The words CLI11 set aside so far, in order, are the input file ("--" ends the options). Throws
// at a second input.
void TakeInput(const CLI::App& app, AnalyzeOptions& options) {
    options.input.clear();
    bool ended = false;
    for (const std::string& word : app.remaining()) {
        if (!ended && word == "--") {
            ended = true;
        } else if (!options.input.empty()) {
            throw std::runtime_error(Fill(kCliTexts.twoInputs, {options.input, word}));
        } else {
            options.input = word;
        }
    }
}

// The rules that need the whole line: an empty text when it holds together.
std::string WholeLineError(const AnalyzeOptions& options, const std::set<std::string>& given) {
    if (options.input.empty()) return kCliTexts.noInput;
    const InputRequest& request = options.request;
    for (const ValueOption& o : kValueOptions) {
        if (o.rawOnly && !request.raw && given.count(o.name) != 0)
            return Fill(kCliTexts.rawOnly, {o.name});
    }
    if (request.raw && request.channel > request.layout.channels) {
        return Fill(kCliTexts.beyondChannels,
                    {std::to_string(request.channel), std::to_string(request.layout.channels)});
    }
    for (const ValueOption& a : kValueOptions) {
        for (const ValueOption& b : kValueOptions) {
            if (&a < &b && a.path != nullptr && b.path != nullptr && !(options.*(a.path)).empty() &&
                options.*(a.path) == options.*(b.path))
                return Fill(kCliTexts.sameFile, {a.name, b.name});
        }
    }
    return {};
}

bool SameFile(const std::string& a, const std::string& b) {
    std::error_code ec;
    return std::filesystem::exists(b, ec) && std::filesystem::equivalent(a, b, ec);
}

// The outputs of one run: the text report, unless another output takes its place on standard
// output, then the files in the order the command line's help names them.
struct Outputs {
    OutputFile report;
    OutputFile pos1;
    OutputFile frames;
    OutputFile json;
    OutputFile svg;
};

std::array<OutputFile*, 5> All(Outputs& o) {
    return {&o.report, &o.pos1, &o.frames, &o.json, &o.svg};
}

bool AnyOnStandardOutput(const AnalyzeOptions& o) {
    return o.pos1Path == "-" || o.framesPath == "-" || o.jsonPath == "-" || o.svgPath == "-";
}

void Complain(std::FILE* err, const std::string& path, const std::string& why) {
    std::fprintf(err, "%s: %s: %s\n", kProgram, path.c_str(), why.c_str());
}

void AbandonAll(Outputs& outputs, SignalGuard& guard) {
    for (OutputFile* output : All(outputs)) {
        if (!output->path.empty()) AbandonOutput(*output, guard);
    }
}

// Takes `step` to each output in turn; at the first that fails, says why (standard output by what
// it is) and abandons them all.
template <typename Step>
bool Each(Outputs& outputs, std::FILE* err, SignalGuard& guard, Step&& step) {
    for (OutputFile* output : All(outputs)) {
        std::string error;
        if (!output->path.empty() && !step(*output, error)) {
            Complain(err, output->path == "-" ? "standard output" : output->path, error);
            AbandonAll(outputs, guard);
            return false;
        }
    }
    return true;
}

}  // namespace

bool ParseAnalyzeArgs(const std::vector<std::string>& args, AnalyzeOptions& options,
                      std::string& error) {
    options = AnalyzeOptions{};
    CLI::App app;
    // Our own -h, a plain flag: the help text is ours, and a bad word before it must win.
    app.set_help_flag();
    // Words CLI11 does not take are kept, in order: the input, or a second one to report.
    app.allow_extras();
    app.allow_windows_style_options(false);
    std::set<std::string> given;
    for (const ValueOption& o : kValueOptions) {
        app.add_option(o.name)->each([&, o](const std::string& value) {
            TakeInput(app, options);
            const bool file = o.path != nullptr;
            if (value.empty())
                throw std::runtime_error(
                    Fill(file ? kCliTexts.needsFileName : kCliTexts.needsValue, {o.name}));
            if (!given.insert(o.name).second)
                throw std::runtime_error(Fill(kCliTexts.twice, {o.name}));
            if (file) {
                options.*(o.path) = value;
            } else if (!o.take(value, options.request)) {
                throw std::runtime_error(Fill(kCliTexts.badValue, {o.name, o.expects, value}));
            }
        });
    }
    app.add_flag_callback("--raw", [&] {
        TakeInput(app, options);
        options.request.raw = true;
    });
    app.add_flag_callback("-h,--help", [&] {
        TakeInput(app, options);
        throw CLI::CallForHelp();
    });
    app.add_flag_callback("--version", [&] {
        TakeInput(app, options);
        throw CLI::CallForVersion();
    });
    for (CLI::Option* option : app.get_options()) option->trigger_on_parse();
    try {
        std::string unknown;
        std::vector<std::string> reversed = CliWords(args, unknown);
        std::reverse(reversed.begin(), reversed.end());
        app.parse(reversed);
        TakeInput(app, options);
        if (!unknown.empty()) throw std::runtime_error(Fill(kCliTexts.unknownOption, {unknown}));
        error = WholeLineError(options, given);
    } catch (const CLI::CallForHelp&) {
        options.help = true;
    } catch (const CLI::CallForVersion&) {
        options.version = true;
    } catch (const std::runtime_error& e) {
        error = e.what();
    }
    return error.empty();
}

namespace {

const char* AnalyzeUsage() {
    return "Usage: vorlank-analyze [--raw [--format F] [--rate HZ] [--channels N]] [--channel K]\n"
           "                       [--pos1 FILE.csv] [--frames FILE.csv] [--json FILE]\n"
           "                       [--svg FILE.svg] FILE\n"
           "\n"
           "Studies a recorded PCM signal offline: a run log written by 'vorlank L', or a\n"
           "recording in any format libsndfile reads (WAV of any depth, rate and channel count,\n"
           "RF64, W64, AIFF, CAF, FLAC, Ogg, MP3), told apart by content. A recording's first\n"
           "channel is analysed at 44100 Hz: another rate is resampled, a 24-bit or float one\n"
           "is read on the 16-bit scale. FILE '-' is standard input, so a recorder can feed it\n"
           "through a pipe; a stream is read to its end, whatever length its header promised.\n"
           "The runs go through the same slicer and frame decoder as 'vorlank T', so the counts\n"
           "are the ones it would show.\n"
           "\n"
           "The report (standard output): frames by kind, errors by kind, the final Pos1, runs\n"
           "and duration, the signal level of samples, the bit cell length fitted to the runs\n"
           "with the worst margin to a rounding boundary, and a histogram of run lengths.\n"
           "\n"
           "Recorders, and commands that work with them:\n"
           "  arecord -f S16_LE -c 1 -r 44100 -t wav | vorlank-analyze -\n"
           "  parec --format=s16le --channels=1 --rate=44100 | vorlank-analyze --raw -\n"
           "  sox -d -t wav - | vorlank-analyze -         (the device's own rate and channels)\n"
           "  vorlank-analyze take.wav --channel 2        (Audacity's export, signal on the "
           "right)\n"
           "Phones and Windows' Voice Recorder save .m4a, which no library here reads:\n"
           "  ffmpeg -i memo.m4a memo.wav && vorlank-analyze memo.wav\n"
           "\n"
           "  --raw             FILE holds samples with no header: by default signed 16-bit\n"
           "                    little-endian, mono, 44100 Hz ('vorlank-synth --raw' writes "
           "them);\n"
           "                    others are described with the names parec and paplay use:\n"
           "    --format F        u8, s16le, s24le, s32le or float32le\n"
           "    --rate HZ         samples per second per channel, 1000 to 1000000\n"
           "    --channels N      interleaved channels\n"
           "                      arecord -t raw -f S24_3LE -c 2 -r 48000 | vorlank-analyze \\\n"
           "                        --raw --format s24le --rate 48000 --channels 2 -\n"
           "  --channel K       analyse channel K (1 is the first) of a recording or raw samples\n"
           "  --pos1 FILE.csv   write every Pos1 value with its time in seconds:\n"
           "                      vorlank-analyze rec.wav --pos1 - | tail -n 5\n"
           "  --frames FILE.csv write a row per frame a sync started: start_s, kind, header,\n"
           "                    outcome (complete, bad_header, invalid_word, unfinished),\n"
           "                    failed_slot and the symbol stored in each slot 0..31:\n"
           "                      vorlank-analyze rec.wav --frames - | grep invalid_word\n"
           "  --json FILE       write the whole report as one JSON object:\n"
           "                      vorlank-analyze rec.wav --json - | jq .errors\n"
           "  --svg FILE.svg    draw the run-length histogram, the Pos1 track, frames and errors\n"
           "                    per second, and the waveform around the first decoding errors:\n"
           "                      arecord -d 10 -f S16_LE -c 1 -r 44100 -t wav \\\n"
           "                        | vorlank-analyze - --svg errors.svg\n"
           "  -h, --help        show this text\n"
           "      --version     show the version\n"
           "\n"
           "An output named '-' goes to standard output in place of the text report. An output\n"
           "file is replaced only when the run succeeds; a device, a FIFO or a path that leads to\n"
           "standard output (/dev/stdout) is written as it stands.\n"
           "\n"
           "Standard error says when a recording was cut short (it is analysed as far as it\n"
           "goes), when a run log's runs are not the signal's, and when the bit cells fit another\n"
           "rate than the input was read at ('is the input 48000 Hz? try --rate 48000').\n"
           "\n"
           "Reading a pipe, the first Ctrl+C (which also reaches the recorder) lets the recorder\n"
           "end, and the report follows; a second one abandons the run. A run ended by a signal\n"
           "leaves no temporary file behind.\n"
           "Exit codes: 0 done; 1 the input cannot be read, is corrupt or in a format that cannot\n"
           "be read (the message says what to do), or a pipe ended before its first byte;\n"
           "2 wrong command line, or no such channel; 3 an output could not be written, the\n"
           "text report included.\n";
}

}  // namespace

int RunAnalyze(const std::vector<std::string>& args, std::FILE* out, std::FILE* err,
               SignalGuard& guard) {
    AnalyzeOptions options;
    std::string error;
    if (!ParseAnalyzeArgs(args, options, error)) {
        std::fprintf(err, "%s: %s\n%s\n", kProgram, error.c_str(), kCliTexts.tryHelp);
        return kExitUsage;
    }
    if (options.help || options.version) {
        if (options.help) {
            std::fputs(AnalyzeUsage(), out);
        } else {
            std::fprintf(out, "%s %s\n", kProgram, common::kVersion);
        }
        std::fflush(out);
        return kExitOk;
    }
    for (const ValueOption& o : kValueOptions) {
        const std::string& output = o.path != nullptr ? options.*(o.path) : std::string();
        if (!output.empty() && options.input != "-" && SameFile(options.input, output)) {
            Complain(err, output, kCliTexts.overwritesInput);
            return kExitUsage;
        }
    }

    // Standard input has no name of its own; messages and the report call it what it is.
    const std::string name = options.input == "-" ? "standard input" : options.input;
    // A recorder in a pipeline is stopped with Ctrl+C, which reaches the analyzer as well: from a
    // pipe, the first one waits for the input's end, up to which the input is opened and read.
    SetInputFromPipe(guard, IsPipe(options.input.c_str()));
    InputReader reader;
    if (!OpenInput(reader, options.input.c_str(), options.request)) {
        SetInputFromPipe(guard, false);
        if (reader.failure == InputFailure::Empty) {
            std::fprintf(err, "%s: %s %s\n", kProgram, name.c_str(), kCliTexts.isEmpty);
        } else {
            Complain(err, name, reader.error);
        }
        return reader.failure == InputFailure::NoSuchChannel ? kExitUsage : kExitBadInput;
    }
    Outputs outputs;
    // An output sent to standard output stands there alone, so that it parses as what it is.
    if (!AnyOnStandardOutput(options)) outputs.report.path = "-";
    outputs.pos1.path = options.pos1Path;
    outputs.frames.path = options.framesPath;
    outputs.json.path = options.jsonPath;
    outputs.svg.path = options.svgPath;
    if (!Each(outputs, err, guard,
              [&](OutputFile& o, std::string& e) { return OpenOutput(o, out, guard, e); })) {
        SetInputFromPipe(guard, false);
        CloseInput(reader);
        return kExitOutput;
    }
    AnalysisOutputs rows;
    if (outputs.pos1.file != nullptr) {
        WritePos1Header(outputs.pos1);
        rows.pos1Csv = &outputs.pos1;
    }
    if (outputs.frames.file != nullptr) {
        WriteFramesHeader(outputs.frames);
        rows.framesCsv = &outputs.frames;
    }
    rows.traceErrors = outputs.svg.file != nullptr;

    Analysis analysis;
    const bool complete = AnalyzeInput(reader, analysis, rows, error);
    SetInputFromPipe(guard, false);
    CloseInput(reader);
    if (!complete) {
        AbandonAll(outputs, guard);
        Complain(err, name, error);
        return kExitBadInput;
    }

    const ReportFigures figures = GatherFigures(name, analysis);
    for (const std::string& line :
         {reader.note, RunLogDoubt(figures), RateDoubt(figures, options.request)}) {
        if (!line.empty()) Complain(err, name, line);
    }
    if (outputs.report.file != nullptr) PrintReport(outputs.report, figures);
    if (outputs.json.file != nullptr) WriteJson(outputs.json, figures);
    if (outputs.svg.file != nullptr) WriteSvg(outputs.svg, name.c_str(), analysis);
    // Every output is flushed and checked before the first is put in place, so a full disk leaves
    // all of them as they were rather than some replaced and some not.
    const bool written = Each(outputs, err, guard,
                              [](OutputFile& o, std::string& e) { return FlushOutput(o, e); }) &&
                         Each(outputs, err, guard, [&](OutputFile& o, std::string& e) {
                             return CommitOutput(o, guard, e);
                         });
    return written ? kExitOk : kExitOutput;
}

}  // namespace analyze
