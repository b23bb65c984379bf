// Black-box tests of the built vorlank-analyze: what stands at its output paths after a run that
// fails and after one that succeeds, the reasons its messages give, and input through pipes. Each
// test works in a scratch folder of its own, with files, links and FIFOs it makes itself.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "decode/offline_slicer.h"
#include "synth/signal_synth.h"
#include "synth/wav_file.h"

namespace {

namespace fs = std::filesystem;

class AnalyzeToolTest : public ::testing::Test {
protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        dir_ = fs::temp_directory_path() / ("vorlank_analyze_tool_" + std::string(info->name()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }
    std::string Path(const std::string& name) const { return (dir_ / name).string(); }

    struct Result {
        int code = -1;
        std::string out;
        std::string err;
    };

    // Runs `command` with /bin/sh in the scratch folder; $A and $S name the analyzer and the
    // synthesizer. Standard output and standard error are collected from files.
    Result Sh(const std::string& command) const {
        const std::string script = "cd '" + dir_.string() + "' && A='" VORLANK_ANALYZE "' S='" +
                                   std::string(VORLANK_SYNTH) + "' && { " + command +
                                   "; } >.stdout 2>.stderr";
        const int status = std::system(script.c_str());
        Result r;
        r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        r.out = Read(Path(".stdout"));
        r.err = Read(Path(".stderr"));
        fs::remove(Path(".stdout"));
        fs::remove(Path(".stderr"));
        return r;
    }

    // Every name in the scratch folder: a run must leave no temporary file behind.
    std::set<std::string> Names() const {
        std::set<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir_))
            names.insert(entry.path().filename().string());
        return names;
    }

    static std::string Read(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    static void Write(const std::string& path, const std::string& text) {
        std::ofstream(path, std::ios::binary) << text;
    }

    fs::path dir_;
};

// A run log of a clean synthesized signal, optionally followed by a negative entry that makes the
// analysis fail after it has written Pos1 rows for every frame before it.
void WriteLog(const std::string& path, bool corruptAtTheEnd) {
    synth::SynthConfig config;
    config.frameCount = 40;
    const std::vector<uint8_t> bytes = synth::SamplesToBytes(synth::Synthesize(config).samples);
    std::vector<int32_t> entries = LoggedRuns(bytes.data(), bytes.size());
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
    EXPECT_EQ(Read(Path("old.csv")), "what was there\n");
    EXPECT_EQ(fs::status(Path("old.csv")).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    EXPECT_TRUE(fs::is_symlink(Path("link.csv")));
    EXPECT_EQ(fs::read_symlink(Path("link.csv")), "target.csv");
    EXPECT_EQ(Read(Path("target.csv")), "the link's target\n");
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
    const std::string csv = Read(Path("old.csv"));
    EXPECT_EQ(csv.rfind("seconds,pos1\n", 0), 0u) << csv;
    EXPECT_EQ(Read(Path("target.csv")), csv);
    EXPECT_TRUE(fs::is_symlink(Path("link.csv")));
    // A path that leads to the standard output, as /dev/stdout does, shares its stream: the
    // report and the rows both arrive, none written over the other.
    const std::string both = Read(Path("both.txt"));
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
    EXPECT_EQ(Read(Path("kept.csv")), "kept\n");
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
    std::string unknown = Read(Path("signal.wav"));
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

}  // namespace
