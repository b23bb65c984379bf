// Black-box tests of the built vorlank-analyze: what stands at its output paths after a run that
// fails, after one that succeeds and after one that a signal ends, the reasons its messages give,
// input through pipes, and recordings in the formats that recorders write, made by the writers
// users have (sox, ffmpeg). Each test works in a scratch folder of its own, with files, links and
// FIFOs it makes itself.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "app/run_log.h"
#include "synth/signal_synth.h"
#include "synth/wav_file.h"
#include "test_folder.h"

namespace {

namespace fs = std::filesystem;

class AnalyzeToolTest : public ::testing::Test {
protected:
    std::string Path(const std::string& name) const { return (dir.path / name).string(); }

    struct Result {
        int code = -1;
        std::string out;
        std::string err;
    };

    // Runs `command` with /bin/sh in the scratch folder; $A and $S name the analyzer and the
    // synthesizer, $F ffmpeg quiet and without a console. Standard output and standard error are
    // collected from files.
    Result Sh(const std::string& command) const {
        const std::string script = "cd '" + dir.path.string() + "' && A='" VORLANK_ANALYZE "' S='" +
                                   std::string(VORLANK_SYNTH) +
                                   "' F='ffmpeg -nostdin -loglevel error -y' && { " + command +
                                   "; } >.stdout 2>.stderr";
        const int status = std::system(script.c_str());
        Result r;
        r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        r.out = FileText(Path(".stdout"));
        r.err = FileText(Path(".stderr"));
        fs::remove(Path(".stdout"));
        fs::remove(Path(".stderr"));
        return r;
    }

    // Every name in the scratch folder: a run must leave no temporary file behind.
    std::set<std::string> Names() const {
        std::set<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir.path))
            names.insert(entry.path().filename().string());
        return names;
    }

    static void Write(const std::string& path, const std::string& text) {
        std::ofstream(path, std::ios::binary) << text;
    }

    TempDir dir;
};

// A run log of a clean synthesized signal, optionally followed by a negative entry that makes the
// analysis fail after it has written Pos1 rows for every frame before it.
void WriteLog(const std::string& path, bool corruptAtTheEnd) {
    synth::SynthConfig config;
    config.frameCount = 40;
    const std::vector<uint8_t> bytes = synth::SamplesToBytes(synth::Synthesize(config).samples);
    std::vector<int32_t> entries = app::LoggedRuns(bytes.data(), bytes.size());
    if (corruptAtTheEnd) entries.push_back(-5);
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(entries.data()),
               static_cast<std::streamsize>(entries.size() * sizeof(int32_t)));
}

TEST_F(AnalyzeToolTest, FailedRunLeavesWhatStoodAtEachOutputPath) {
    WriteLog(Path("bad.log"), true);
    Write(Path("old.csv"), "what was there\n");
    fs::permissions(Path("old.csv"),
                    fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    Write(Path("target.csv"), "the link's target\n");
    fs::create_symlink("target.csv", Path("link.csv"));
    ASSERT_EQ(mkfifo(Path("pipe.csv").c_str(), 0600), 0);
    const std::set<std::string> before = Names();

    // A FIFO's reader drains it in the background, as whoever listens on it would. The shell
    // opens both of its ends first, so no open blocks whenever the tool comes to it, and lets go
    // of the writing end once the tool is done, which ends the reader.
    for (const char* path : {"old.csv", "link.csv", "pipe.csv"}) {
        const Result r = Sh(std::string("exec 3<>pipe.csv 4<pipe.csv; cat <&4 3>&- 4<&- >/dev/null "
                                        "& exec 4<&-; $A bad.log --pos1 ") +
                            path + " 3>&-; code=$?; exec 3>&-; wait; exit $code");
        EXPECT_EQ(r.code, 1) << path << ": " << r.err;
        EXPECT_NE(r.err.find("bad.log: entry"), std::string::npos) << r.err;
    }
    EXPECT_EQ(FileText(Path("old.csv")), "what was there\n");
    EXPECT_EQ(fs::status(Path("old.csv")).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    EXPECT_TRUE(fs::is_symlink(Path("link.csv")));
    EXPECT_EQ(fs::read_symlink(Path("link.csv")), "target.csv");
    EXPECT_EQ(FileText(Path("target.csv")), "the link's target\n");
    EXPECT_TRUE(fs::is_fifo(Path("pipe.csv")));
    EXPECT_EQ(Names(), before);
}

TEST_F(AnalyzeToolTest, SuccessfulRunPutsEachOutputInPlace) {
    WriteLog(Path("good.log"), false);
    Write(Path("old.csv"), "what was there\n");
    Write(Path("target.csv"), "old target\n");
    fs::create_symlink("target.csv", Path("link.csv"));
    fs::create_symlink("both.txt", Path("stdout-link"));

    const Result r =
        Sh("$A good.log --pos1 old.csv && $A good.log --pos1 link.csv && "
           "$A good.log --pos1 stdout-link >both.txt");
    ASSERT_EQ(r.code, 0) << r.err;
    const std::string csv = FileText(Path("old.csv"));
    EXPECT_EQ(csv.rfind("seconds,pos1\n", 0), 0u) << csv;
    EXPECT_EQ(FileText(Path("target.csv")), csv);
    EXPECT_TRUE(fs::is_symlink(Path("link.csv")));
    // A path that leads to the standard output, as /dev/stdout does, shares its stream: the
    // report and the rows both arrive, none written over the other.
    const std::string both = FileText(Path("both.txt"));
    EXPECT_NE(both.find(csv), std::string::npos) << both;
    EXPECT_NE(both.find("Frames        40 (kind A 20, kind B 20)"), std::string::npos) << both;
    EXPECT_EQ(Names(), (std::set<std::string>{"good.log", "old.csv", "target.csv", "link.csv",
                                              "stdout-link", "both.txt"}));
}

TEST_F(AnalyzeToolTest, OutputFailuresGiveTheSystemsReason) {
    WriteLog(Path("good.log"), false);
    Write(Path("kept.csv"), "kept\n");
    const struct {
        const char* command;
        const char* message;
    } table[] = {
        {"$A good.log --pos1 no/such/folder/x.csv",
         "no/such/folder/x.csv: cannot create the file: No such file or directory\n"},
        // A file-size limit makes the writes fail part-way; the old file must stay as it was.
        {"trap '' XFSZ; ulimit -f 1; $A good.log --pos1 kept.csv --svg x.svg",
         ": writing failed: File too large\n"},
    };
    for (const auto& row : table) {
        const Result r = Sh(row.command);
        EXPECT_EQ(r.code, 3) << row.command;
        EXPECT_NE(r.err.find(row.message), std::string::npos) << row.command << ": " << r.err;
    }
    EXPECT_EQ(FileText(Path("kept.csv")), "kept\n");
    EXPECT_EQ(Names(), (std::set<std::string>{"good.log", "kept.csv"}));
}

// The report without its first two lines, which name the input and what kind it is.
std::string Figures(const std::string& report) {
    size_t at = 0;
    for (int line = 0; line < 2 && at != std::string::npos; ++line) at = report.find('\n', at) + 1;
    return report.substr(at);
}

TEST_F(AnalyzeToolTest, PipesGiveTheSameReportAsFiles) {
    const std::string signal = "--frames 120 --sweep --noise 1500 --seed 5";
    ASSERT_EQ(Sh("$S -o signal.wav " + signal + " && $S --raw " + signal + " >signal.raw").code, 0);
    // A recorder writing WAV to a pipe cannot fill in the data length: 0xFFFFFFFF in its place.
    std::string unknown = FileText(Path("signal.wav"));
    unknown.replace(40, 4, "\xFF\xFF\xFF\xFF");
    Write(Path("unknown.wav"), unknown);

    const Result file = Sh("$A signal.wav");
    ASSERT_EQ(file.code, 0) << file.err;
    ASSERT_NE(file.out.find("Errors"), std::string::npos);
    const struct {
        std::string command;
        const char* input;  // the report's first two lines, after "File          "
    } table[] = {
        {"$S --raw " + signal + " | $A --raw -", "standard input\nInput         raw samples"},
        {"$A --raw signal.raw", "signal.raw\nInput         raw samples"},
        {"cat signal.wav | $A -", "standard input\nInput         WAV recording"},
        {"cat unknown.wav | $A -", "standard input\nInput         WAV recording"},
        {"$A - <unknown.wav", "standard input\nInput         WAV recording"},
    };
    for (const auto& row : table) {
        const Result r = Sh(row.command);
        EXPECT_EQ(r.code, 0) << row.command << ": " << r.err;
        EXPECT_EQ(r.out.rfind(std::string("File          ") + row.input, 0), 0u) << r.out;
        EXPECT_EQ(Figures(r.out), Figures(file.out)) << row.command;
    }
}

TEST_F(AnalyzeToolTest, NothingToReadOrNowhereToReportIsNoSuccess) {
    WriteLog(Path("good.log"), false);
    Write(Path("empty.log"), "");
    ASSERT_EQ(mkfifo(Path("fifo").c_str(), 0600), 0);
    const struct {
        const char* command;
        int code;
        const char* err;
    } table[] = {
        // A recorder that failed to start leaves its pipe empty: that is no recording.
        {"true | $A --raw -", 1, "vorlank-analyze: standard input is empty\n"},
        {"$A - </dev/null", 1, "vorlank-analyze: standard input is empty\n"},
        {"{ : >fifo & } && $A fifo", 1, "vorlank-analyze: fifo is empty\n"},
        // `vorlank L f 0` writes a log of no entries: a file that is empty on purpose.
        {"$A empty.log >/dev/null", 0, ""},
        // The text report is an output like the others: when it cannot be written, none is put
        // in place.
        {"$A good.log >/dev/full", 3,
         "vorlank-analyze: standard output: writing failed: No space left on device\n"},
        {"$A good.log --json r.json >/dev/full", 3,
         "vorlank-analyze: standard output: writing failed: No space left on device\n"},
    };
    for (const auto& row : table) {
        const Result r = Sh(row.command);
        EXPECT_EQ(r.code, row.code) << row.command;
        EXPECT_EQ(r.err, row.err) << row.command;
    }
    EXPECT_EQ(Names(), (std::set<std::string>{"good.log", "empty.log", "fifo"}));
}

// What a report says of the decoding: the frames, the errors and the final Pos1; -1 where the
// report lacks the line.
struct Counts {
    long frames = -1;
    long errors = -1;
    long pos1 = -1;
};

Counts CountsOf(const std::string& report) {
    Counts c;
    const auto number = [&](const char* label, long& into) {
        const size_t at = report.find(label);
        if (at != std::string::npos) std::sscanf(report.c_str() + at + 14, "%ld", &into);
    };
    number("\nFrames        ", c.frames);
    number("\nErrors        ", c.errors);
    number("\nPos1          ", c.pos1);
    return c;
}

// A clean signal as the writers users have store it, each variant read back as the recorder's
// file or stream: the 16-bit original's frames, errors and Pos1, exactly where the format keeps
// the signal's edges, and all but a few frames from the lossy codecs.
TEST_F(AnalyzeToolTest, RecordersFormatsGiveTheOriginalsCounts) {
    ASSERT_EQ(Sh("$S -o signal.wav --frames 80 --sweep --sweep-step 13 --seed 5").code, 0);
    const Counts original = CountsOf(Sh("$A signal.wav").out);
    ASSERT_EQ(original.frames, 80);
    ASSERT_EQ(original.errors, 0);
    const struct {
        const char* name;
        const char* command;
        long lost;  // frames a lossy codec may cost
    } table[] = {
        {"48 kHz", "sox signal.wav -r 48000 v.wav && $A v.wav", 0},
        {"96 kHz", "sox signal.wav -r 96000 v.wav && $A v.wav", 0},
        {"32 kHz", "sox signal.wav -r 32000 v.wav && $A v.wav", 0},
        {"stereo", "sox signal.wav v.wav remix 1 1 && $A v.wav", 0},
        {"stereo, the signal in channel 2 alone",
         "sox signal.wav v.wav remix 0 1 && $A v.wav --channel 2", 0},
        {"24-bit", "sox signal.wav -b 24 v.wav && $A v.wav", 0},
        {"float", "sox signal.wav -e floating-point -b 32 v.wav && $A v.wav", 0},
        {"8-bit", "sox signal.wav -b 8 v.wav && $A v.wav", 0},
        {"FLAC", "sox signal.wav v.flac && $A v.flac", 0},
        {"W64", "sox signal.wav v.w64 && $A v.w64", 0},
        {"RF64", "$F -i signal.wav -rf64 always v.wav && $A v.wav", 0},
        {"CAF", "sox signal.wav v.caf && $A v.caf", 0},
        {"AIFF", "sox signal.wav v.aiff && $A v.aiff", 0},
        {"48 kHz stereo float, through a pipe",
         "$F -i signal.wav -ar 48000 -ac 2 -c:a pcm_f32le -f wav - | $A -", 0},
        {"FLAC, through a pipe", "sox signal.wav -t flac - | $A -", 0},
        {"MP3", "$F -i signal.wav -b:a 128k v.mp3 && $A v.mp3", 3},
        {"Ogg Vorbis", "sox signal.wav v.ogg && $A v.ogg", 3},
    };
    for (const auto& row : table) {
        const Result r = Sh(row.command);
        EXPECT_EQ(r.code, 0) << row.name << ": " << r.err;
        const Counts got = CountsOf(r.out);
        if (row.lost == 0) {
            EXPECT_EQ(got.frames, original.frames) << row.name;
            EXPECT_EQ(got.errors, 0) << row.name;
            EXPECT_EQ(got.pos1, original.pos1) << row.name;
        } else {
            EXPECT_GE(got.frames, original.frames - row.lost) << row.name;
            EXPECT_LE(got.errors, row.lost) << row.name;
        }
        Sh("rm -f v.*");
    }
}

// A recording cut short, by its header's length or inside a compressed frame, is analysed as far
// as it goes, with one line on standard error that says so.
TEST_F(AnalyzeToolTest, RecordingCutShortIsAnalysedAsFarAsItGoes) {
    ASSERT_EQ(Sh("$S -o signal.wav --frames 80").code, 0);
    const struct {
        const char* name;
        const char* command;
        const char* says;  // the line on standard error, after "cut short: read "
    } table[] = {
        {"24-bit WAV", "sox signal.wav -b 24 v.wav && head -c 150000 v.wav >cut && $A cut",
         " sample frames) of the 2.212 s (97544 sample frames) its header declares; analysed as "
         "far as it goes\n"},
        {"MP3", "$F -i signal.wav v.mp3 && head -c 10000 v.mp3 >cut && $A cut",
         " sample frames), then the decoder gave up ("},
    };
    for (const auto& row : table) {
        const Result r = Sh(row.command);
        EXPECT_EQ(r.code, 0) << row.name << ": " << r.err;
        EXPECT_EQ(r.err.rfind("vorlank-analyze: cut: cut short: read ", 0), 0u) << r.err;
        EXPECT_NE(r.err.find(row.says), std::string::npos) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        const long frames = CountsOf(r.out).frames;
        EXPECT_GT(frames, 20) << row.name;
        EXPECT_LT(frames, 80) << row.name;
    }
}

// Inputs given the wrong way get a message that says what they are and what to do.
TEST_F(AnalyzeToolTest, MistakesGetANextStep) {
    ASSERT_EQ(Sh("$S -o signal.wav --frames 20").code, 0);
    const struct {
        const char* command;
        int code;
        const char* err;  // a piece of standard error
    } table[] = {
        // A phone's or Windows' voice recorder: a format no library here reads.
        {"$F -i signal.wav memo.m4a && $A memo.m4a", 1,
         "vorlank-analyze: memo.m4a: an MP4/M4A file (AAC audio, as phones and Windows' Voice "
         "Recorder save it), which no library here reads; convert it first: ffmpeg -i memo.m4a "
         "memo.wav && vorlank-analyze memo.wav\n"},
        // Raw samples without --raw.
        {"$S --raw --frames 10 | $A -", 1,
         ": neither a run log nor a recording in a format known here; raw samples, as arecord "
         "-t raw and parec write them, need --raw"},
        // A text file is no run log, though it reads as one.
        {"yes 'The quick brown fox jumps over the lazy dog.' | head -c 1000 >notes.txt && "
         "$A notes.txt >/dev/null",
         0,
         "vorlank-analyze: notes.txt: warning: read as a run log, but its runs do not look like "
         "the signal's: 250 runs, 0 of 1 to 8 bit cells"},
        {"sox signal.wav v.wav remix 1 1 && $A v.wav --channel 3", 2,
         "vorlank-analyze: v.wav: it has 2 channels, so there is no channel 3\n"},
    };
    for (const auto& row : table) {
        const Result r = Sh(row.command);
        EXPECT_EQ(r.code, row.code) << row.command << ": " << r.err;
        EXPECT_NE(r.err.find(row.err), std::string::npos) << row.command << ": " << r.err;
    }
}

// The words are read in order: the first wrong one is reported, -h and --version end the reading
// wherever they stand, "--" ends the options, and a value is the next word whatever it looks like.
TEST_F(AnalyzeToolTest, WordsAreReadInOrder) {
    const struct {
        const char* args;
        int code;
        const char* start;  // of standard output and standard error together
    } table[] = {
        {"-h -x", 0, "Usage: vorlank-analyze "},
        {"-x -h", 2, "vorlank-analyze: unknown option '-x'\nTry 'vorlank-analyze --help'.\n"},
        {"a --version b c", 0, "vorlank-analyze "},
        {"a b --version", 2, "vorlank-analyze: more than one input file ('a' and 'b')\n"},
        {"x -- --", 2, "vorlank-analyze: more than one input file ('x' and '--')\n"},
        {"--raw --raw -- -h", 1, "vorlank-analyze: -h: cannot open it: "},
        {"--pos1 -- x", 1, "vorlank-analyze: x: cannot open it: "},
        // An empty word is no input yet, so one after it is not a second input.
        {"'' x", 1, "vorlank-analyze: x: cannot open it: "},
        {"x ''", 2, "vorlank-analyze: more than one input file ('x' and '')\n"},
    };
    for (const auto& row : table) {
        const Result r = Sh(std::string("$A ") + row.args);
        EXPECT_EQ(r.code, row.code) << row.args;
        EXPECT_TRUE((r.out + r.err).starts_with(row.start)) << row.args << ": " << r.out << r.err;
    }
}

// A signal as the terminal sends Ctrl+C: to every process of the pipeline at once. The analyzer
// and the writer of its input share a process group of their own, and signals go to the group.
class SignalTest : public AnalyzeToolTest {
protected:
    // Starts `argv` in the scratch folder and in the process group `group` (0: a new one, named
    // after the process), its standard streams on `in`, `out` and `err`, with the stop signals'
    // default actions, whatever the test runner inherited.
    pid_t Spawn(const std::vector<std::string>& argv, int in, int out, int err, pid_t group) const {
        const pid_t pid = fork();
        if (pid == 0) {
            setpgid(0, group);
            if (chdir(dir.path.c_str()) != 0) _exit(127);
            dup2(in, STDIN_FILENO);
            dup2(out, STDOUT_FILENO);
            dup2(err, STDERR_FILENO);
            struct sigaction byDefault {};
            byDefault.sa_handler = SIG_DFL;
            for (int s : {SIGINT, SIGQUIT, SIGTERM, SIGHUP, SIGPIPE})
                sigaction(s, &byDefault, nullptr);
            sigset_t none;
            sigemptyset(&none);
            sigprocmask(SIG_SETMASK, &none, nullptr);
            std::vector<char*> words;
            words.reserve(argv.size() + 1);
            for (const std::string& w : argv) words.push_back(const_cast<char*>(w.c_str()));
            words.push_back(nullptr);
            execv(words[0], words.data());
            _exit(127);
        }
        setpgid(pid, group);  // as well, so that the group stands before the first signal
        return pid;
    }

    // Waits, up to a liveness bound that is no timing requirement, until `ready` holds.
    template <typename Ready>
    static bool Await(Ready ready) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (!ready()) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return true;
    }

    // Whether a temporary output file (".NAME.XXXXXXXX.tmp") stands in the scratch folder.
    bool TemporaryFileStands() const {
        for (const std::string& name : Names())
            if (name.size() > 4 && name[0] == '.' && name.ends_with(".tmp")) return true;
        return false;
    }
};

TEST_F(SignalTest, CtrlCOnAPipeLetsTheRecorderEndAndOtherwiseEndsTheRunLeavingNothing) {
    ASSERT_EQ(Sh("$S --raw --frames 40 >signal.raw").code, 0);
    WriteLog(Path("good.log"), false);
    // Nobody reads this FIFO, so the run stays at opening it, after its JSON output's temporary
    // file was made, for as long as the test wants.
    ASSERT_EQ(mkfifo(Path("unread.svg").c_str(), 0600), 0);
    // The recorder leaves a mark once the pipe has taken the whole signal, and then waits.
    const std::string recorder = "cat signal.raw && : >fed; exec sleep 60";
    const struct {
        const char* name;
        std::string writer;  // the shell command that writes the input; empty: a file is read
        std::vector<std::string> args;
        std::vector<int> signals;
        int endedBy;  // 0: exits 0 with a report
    } table[] = {
        {"Ctrl+C ends the recorder; the report follows",
         recorder,
         {"--raw", "-", "--json", "r.json"},
         {SIGINT},
         0},
        {"a writer that ignores Ctrl+C: a second one ends the run",
         "trap '' INT; " + recorder,
         {"--raw", "-", "--json", "r.json"},
         {SIGINT, SIGINT},
         SIGINT},
        {"SIGTERM while reading a pipe",
         recorder,
         {"--raw", "-", "--json", "r.json"},
         {SIGTERM},
         SIGTERM},
        {"SIGHUP while reading a pipe",
         recorder,
         {"--raw", "-", "--json", "r.json"},
         {SIGHUP},
         SIGHUP},
        {"Ctrl+C while reading a file",
         "",
         {"good.log", "--json", "r.json", "--svg", "unread.svg"},
         {SIGINT},
         SIGINT},
    };
    for (const auto& row : table) {
        SCOPED_TRACE(row.name);
        const int out = open(Path("report.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int err = open(Path("err.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        int input[2] = {-1, -1};
        pid_t writer = -1;
        pid_t group = 0;
        if (!row.writer.empty()) {
            ASSERT_EQ(pipe(input), 0);
            writer = Spawn({"/bin/sh", "-c", row.writer}, STDIN_FILENO, input[1], err, 0);
            group = writer;
            close(input[1]);
        }
        std::vector<std::string> argv{VORLANK_ANALYZE};
        argv.insert(argv.end(), row.args.begin(), row.args.end());
        const pid_t analyzer =
            Spawn(argv, row.writer.empty() ? STDIN_FILENO : input[0], out, err, group);
        if (group == 0) group = analyzer;
        if (input[0] >= 0) close(input[0]);
        close(out);
        close(err);

        // Its first temporary file stands once the input is open and the outputs are made. A
        // recorder is signalled once it has written everything: a signal that reached it while it
        // wrote would cut the signal short, the recorder's doing and not the analyzer's.
        EXPECT_TRUE(Await([&] {
            return TemporaryFileStands() && (row.writer.empty() || fs::exists(Path("fed")));
        }));
        for (size_t i = 0; i < row.signals.size(); ++i) {
            kill(-group, row.signals[i]);
            // A second signal must come after the first has been taken, or the two are one.
            if (i + 1 < row.signals.size()) {
                EXPECT_TRUE(Await([&] {
                    return FileText(Path("err.txt")).find("interrupted") != std::string::npos;
                }));
            }
        }
        int status = 0;
        const bool ended = Await([&] { return waitpid(analyzer, &status, WNOHANG) == analyzer; });
        kill(-group, SIGKILL);  // the writer that ignores Ctrl+C, or a run that hangs
        if (!ended) waitpid(analyzer, &status, 0);
        if (writer > 0) waitpid(writer, nullptr, 0);
        ASSERT_TRUE(ended);
        SCOPED_TRACE(FileText(Path("err.txt")));

        if (row.endedBy == 0) {
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
            EXPECT_NE(FileText(Path("report.txt")).find("Frames        40 (kind A 20, kind B 20)"),
                      std::string::npos)
                << FileText(Path("report.txt"));
            EXPECT_EQ(FileText(Path("r.json")).rfind('{', 0), 0u);
        } else {
            EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == row.endedBy) << status;
            EXPECT_FALSE(fs::exists(Path("r.json")));
        }
        EXPECT_FALSE(TemporaryFileStands());
        fs::remove(Path("r.json"));
        fs::remove(Path("fed"));
    }
}

}  // namespace
