#include "analyze/analyze_cli.h"

#include <filesystem>
#include <system_error>

#include "analyze/analysis.h"
#include "analyze/report.h"

namespace {

constexpr const char* kProgram = "vorlank-analyze";

// Takes the value of --name, either glued on as --name=VALUE or as the next word.
bool TakeValue(const std::vector<std::string>& args, size_t& i, const std::string& name,
               std::string& into, std::string& error) {
    const std::string& word = args[i];
    std::string value;
    if (word.size() > name.size() && word[name.size()] == '=') {
        value = word.substr(name.size() + 1);
    } else if (i + 1 < args.size()) {
        value = args[++i];
    } else {
        error = name + " needs a file name";
        return false;
    }
    if (value.empty()) {
        error = name + " needs a file name";
        return false;
    }
    if (!into.empty()) {
        error = name + " given twice";
        return false;
    }
    into = value;
    return true;
}

bool IsOption(const std::string& word, const std::string& name) {
    return word == name || word.rfind(name + "=", 0) == 0;
}

bool SameFile(const std::string& a, const std::string& b) {
    std::error_code ec;
    return std::filesystem::exists(b, ec) && std::filesystem::equivalent(a, b, ec);
}

// An output file the run creates: removed again when the run fails, so no half-written file is
// left behind to be taken for a result.
struct Output {
    std::string path;
    std::FILE* file = nullptr;
};

bool CreateOutput(Output& output, std::FILE* err) {
    if (output.path.empty()) return true;
    output.file = std::fopen(output.path.c_str(), "wb");
    if (output.file != nullptr) return true;
    std::fprintf(err, "%s: %s: cannot create the file\n", kProgram, output.path.c_str());
    return false;
}

void DiscardOutput(Output& output) {
    if (output.file == nullptr) return;
    std::fclose(output.file);
    output.file = nullptr;
    std::remove(output.path.c_str());
}

// Closes a written output; a write error, including one only seen when flushing, removes it.
bool FinishOutput(Output& output, bool written, std::FILE* err) {
    if (output.file == nullptr) return true;
    bool ok = written && std::ferror(output.file) == 0;
    if (std::fclose(output.file) != 0) ok = false;
    output.file = nullptr;
    if (ok) return true;
    std::remove(output.path.c_str());
    std::fprintf(err, "%s: %s: writing failed\n", kProgram, output.path.c_str());
    return false;
}

}  // namespace

bool ParseAnalyzeArgs(const std::vector<std::string>& args, AnalyzeOptions& options,
                      std::string& error) {
    options = AnalyzeOptions{};
    bool optionsEnded = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& word = args[i];
        const bool option = !optionsEnded && word.size() > 1 && word[0] == '-';
        if (option && (word == "--help" || word == "-h")) {
            options.help = true;
            return true;
        }
        if (option && word == "--") {
            optionsEnded = true;
        } else if (option && IsOption(word, "--pos1")) {
            if (!TakeValue(args, i, "--pos1", options.pos1Path, error)) return false;
        } else if (option && IsOption(word, "--svg")) {
            if (!TakeValue(args, i, "--svg", options.svgPath, error)) return false;
        } else if (option) {
            error = "unknown option '" + word + "'";
            return false;
        } else if (!options.input.empty()) {
            error = "more than one input file ('" + options.input + "' and '" + word + "')";
            return false;
        } else {
            options.input = word;
        }
    }
    if (options.input.empty()) {
        error = "no input file";
        return false;
    }
    if (!options.pos1Path.empty() && options.pos1Path == options.svgPath) {
        error = "--pos1 and --svg name the same file";
        return false;
    }
    return true;
}

const char* AnalyzeUsage() {
    return "Usage: vorlank-analyze [--pos1 FILE.csv] [--svg FILE.svg] FILE\n"
           "\n"
           "Studies a recorded PCM signal offline: a run log written by 'vorlank L' or a WAV\n"
           "recording (16-bit PCM, mono, 44100 Hz), told apart by content. The runs go through "
           "the\n"
           "same slicer and frame decoder as 'vorlank T', so the counts are the ones it would "
           "show.\n"
           "\n"
           "The report (standard output): frames by kind, errors by kind, the final Pos1, runs "
           "and\n"
           "duration, the signal level of a recording, the bit cell length fitted to the runs "
           "with\n"
           "the worst margin to a rounding boundary, and a histogram of run lengths.\n"
           "\n"
           "  --pos1 FILE.csv   write every Pos1 value with its time in seconds\n"
           "  --svg FILE.svg    draw the run-length histogram and the Pos1 track\n"
           "  -h, --help        show this text\n"
           "\n"
           "Exit codes: 0 done; 1 the input cannot be read, is corrupt or in another format;\n"
           "2 wrong command line; 3 an output file could not be written.\n";
}

int RunAnalyze(const std::vector<std::string>& args, std::FILE* out, std::FILE* err) {
    AnalyzeOptions options;
    std::string error;
    if (!ParseAnalyzeArgs(args, options, error)) {
        std::fprintf(err, "%s: %s\nTry '%s --help'.\n", kProgram, error.c_str(), kProgram);
        return kExitUsage;
    }
    if (options.help) {
        std::fputs(AnalyzeUsage(), out);
        std::fflush(out);
        return kExitOk;
    }
    for (const std::string* output : {&options.pos1Path, &options.svgPath}) {
        if (!output->empty() && SameFile(options.input, *output)) {
            std::fprintf(err, "%s: %s: refusing to overwrite the input\n", kProgram,
                         output->c_str());
            return kExitUsage;
        }
    }

    InputReader reader;
    if (!OpenInput(reader, options.input.c_str())) {
        std::fprintf(err, "%s: %s: %s\n", kProgram, options.input.c_str(), reader.error.c_str());
        return kExitBadInput;
    }
    Output csv{options.pos1Path};
    Output svg{options.svgPath};
    if (!CreateOutput(csv, err) || !CreateOutput(svg, err)) {
        DiscardOutput(csv);
        CloseInput(reader);
        return kExitOutput;
    }
    if (csv.file != nullptr) WritePos1Header(csv.file);

    Analysis analysis;
    const bool complete = AnalyzeInput(reader, analysis, csv.file, error);
    CloseInput(reader);
    if (!complete) {
        DiscardOutput(csv);
        DiscardOutput(svg);
        std::fprintf(err, "%s: %s: %s\n", kProgram, options.input.c_str(), error.c_str());
        return kExitBadInput;
    }

    PrintReport(out, GatherFigures(options.input, analysis));
    const bool csvDone = FinishOutput(csv, true, err);
    const bool svgDone = FinishOutput(
        svg, svg.file == nullptr || WriteSvg(svg.file, options.input.c_str(), analysis), err);
    return csvDone && svgDone ? kExitOk : kExitOutput;
}
