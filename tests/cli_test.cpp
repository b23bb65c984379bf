// Black-box tests of the built vorlank binary: command line, status lines, stop signals, exit
// codes and the log file, seen from outside as a user or a script sees them.
//
// These run without a signal source: whatever the capture stream finds (nothing, or noise), the
// checks hold. Status lines are checked byte for byte by reading their numbers back and printing
// them again with the tool's format.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "test_folder.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

const std::string kUsage =
    "Usage:\n"
    " Vorlank T\n"
    "  Tests if PCM signal is present\n"
    " Vorlank L FileName NbSamples\n"
    "   Logs raw data to logfile\n";

// Generous bound on anything the tool must do "at once"; it guards against hangs and is not a
// timing requirement.
constexpr auto kLiveness = std::chrono::seconds(5);

struct Limit {
    int resource;
    rlim_t value;
};

struct Child {
    pid_t pid = -1;
    int out = -1;  // read end of the child's standard output
    std::string text;
};

// How the tool is started, besides its words.
struct Spawn {
    std::vector<Limit> limits;
    std::string errPath;    // its standard error goes to this file; empty: the test's own
    std::string tmpDir;     // its TMPDIR; empty: the test's own
    bool noStdout = false;  // started with descriptor 1 closed
};

// Starts the tool with `args`, its standard output on a pipe. The child starts from default
// dispositions and an empty mask for the stop signals, whatever the test runner inherited, and
// with the given resource limits. SIGXFSZ is ignored so that a file-size limit shows as a failed
// write rather than killing the tool.
Child Start(const std::vector<std::string>& args, const Spawn& spawn = {}) {
    int fds[2];
    if (pipe(fds) != 0) ADD_FAILURE() << "pipe failed";
    Child child;
    child.pid = fork();
    if (child.pid == 0) {
        dup2(fds[1], STDOUT_FILENO);
        close(fds[0]);
        close(fds[1]);
        struct sigaction byDefault {};
        byDefault.sa_handler = SIG_DFL;
        for (int s : {SIGINT, SIGQUIT, SIGTERM, SIGHUP, SIGPIPE}) sigaction(s, &byDefault, nullptr);
        struct sigaction ignore {};
        ignore.sa_handler = SIG_IGN;
        sigaction(SIGXFSZ, &ignore, nullptr);
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        if (!spawn.errPath.empty()) {
            const int err = open(spawn.errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            dup2(err, STDERR_FILENO);
            close(err);
        }
        if (!spawn.tmpDir.empty()) setenv("TMPDIR", spawn.tmpDir.c_str(), 1);
        if (spawn.noStdout) close(STDOUT_FILENO);
        for (const Limit& l : spawn.limits) {
            const rlimit r{l.value, l.value};
            setrlimit(l.resource, &r);
        }
        std::vector<char*> argv{const_cast<char*>(VORLANK_BINARY)};
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(VORLANK_BINARY, argv.data());
        _exit(127);
    }
    close(fds[1]);
    child.out = fds[0];
    return child;
}

enum class ReadResult { Data, End, Timeout };

// Appends whatever output arrives next to `text`.
ReadResult ReadSome(Child& child, Clock::time_point deadline) {
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) return ReadResult::Timeout;
        pollfd p{child.out, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
        char chunk[4096];
        const ssize_t n = read(child.out, chunk, sizeof chunk);
        if (n <= 0) return ReadResult::End;
        child.text.append(chunk, static_cast<size_t>(n));
        return ReadResult::Data;
    }
}

// Reads what the tool prints until `text` holds `needle`. False when the output ended first or
// the liveness bound passed.
bool ReadUntil(Child& child, const std::string& needle) {
    const auto deadline = Clock::now() + kLiveness;
    while (child.text.find(needle) == std::string::npos) {
        if (ReadSome(child, deadline) != ReadResult::Data) return false;
    }
    return true;
}

// Reads to the end of the output and reaps the tool. Returns its exit code, or nullopt when it
// was ended by a signal or did not end within the liveness bound (then it is killed).
std::optional<int> Finish(Child& child) {
    const auto deadline = Clock::now() + kLiveness;
    ReadResult result = ReadResult::Data;
    while ((result = ReadSome(child, deadline)) == ReadResult::Data) {
    }
    if (result == ReadResult::Timeout) kill(child.pid, SIGKILL);
    close(child.out);
    int status = 0;
    waitpid(child.pid, &status, 0);
    if (result == ReadResult::Timeout || !WIFEXITED(status)) return std::nullopt;
    return WEXITSTATUS(status);
}

// Closes the reading end of the tool's standard output, as `| head` does when it has read
// enough, and reaps the tool. Returns its exit code, or nullopt as Finish does.
std::optional<int> CloseOutputAndWait(Child& child) {
    close(child.out);
    const auto deadline = Clock::now() + kLiveness;
    int status = 0;
    while (waitpid(child.pid, &status, WNOHANG) == 0) {
        if (Clock::now() > deadline) {
            kill(child.pid, SIGKILL);
            waitpid(child.pid, &status, 0);
            return std::nullopt;
        }
        usleep(10000);
    }
    if (!WIFEXITED(status)) return std::nullopt;
    return WEXITSTATUS(status);
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    for (size_t at = 0; at < text.size();) {
        const size_t end = text.find('\n', at);
        if (end == std::string::npos) {
            lines.push_back(text.substr(at));
            break;
        }
        lines.push_back(text.substr(at, end + 1 - at));
        at = end + 1;
    }
    return lines;
}

// True when `line` is exactly what the tool's test-mode format prints for the numbers in it.
bool IsTestModeLine(const std::string& line) {
    int frames = 0;
    int rate = 0;
    int errors = 0;
    int pos1 = 0;
    if (std::sscanf(line.c_str(), "#PCMFrames = %d (%d/s)  #PCMErrors = %d  Pos1 = %d", &frames,
                    &rate, &errors, &pos1) != 4) {
        return false;
    }
    char again[160];
    std::snprintf(again, sizeof again, "#PCMFrames = %6d (%3d/s)  #PCMErrors = %6d  Pos1 = %4d\n",
                  frames, rate, errors, pos1);
    return line == again && pos1 >= 0 && pos1 <= 1023;
}

bool IsLogModeLine(const std::string& line) {
    long count = 0;
    if (std::sscanf(line.c_str(), "#Transitions %ld", &count) != 1) return false;
    char again[64];
    std::snprintf(again, sizeof again, "#Transitions %6ld \n", count);
    return line == again && count >= 0;
}

size_t CountOf(const std::vector<std::string>& lines, const std::string& line) {
    return static_cast<size_t>(std::count(lines.begin(), lines.end(), line));
}

// The entries of a log file stopped early: run lengths (at least 1) followed only by zeros.
bool IsRunsThenZeros(const std::vector<uint8_t>& bytes) {
    bool inTail = false;
    for (size_t at = 0; at + 4 <= bytes.size(); at += 4) {
        const int32_t entry =
            static_cast<int32_t>(bytes[at] | (bytes[at + 1] << 8) | (bytes[at + 2] << 16) |
                                 (static_cast<uint32_t>(bytes[at + 3]) << 24));
        if (entry < 0 || (inTail && entry != 0)) return false;
        if (entry == 0) inTail = true;
    }
    return true;
}

TEST(Usage, WrongCommandLinesPrintTheFiveLinesAndExitOne) {
    const std::vector<std::vector<std::string>> cases = {
        {}, {"X"}, {"t"}, {"l"}, {"l", "f", "3"}, {"L"}, {"L", "log.bin"},
    };
    for (const auto& args : cases) {
        std::string shown;
        for (const std::string& a : args) shown += "[" + a + "]";
        SCOPED_TRACE("args " + shown);
        Child child = Start(args);
        const std::optional<int> code = Finish(child);
        EXPECT_EQ(code, 1);
        EXPECT_EQ(child.text, kUsage);
    }
}

class StopSignal : public testing::TestWithParam<int> {};

// Test mode with extra words: status lines every 500 ms, live through a pipe (so they are
// flushed as written); one signal gives one "Stopping..." and a prompt, orderly end with code 0.
TEST_P(StopSignal, TestModeStopsInOrder) {
    Child child = Start({"T", "extra", "words"});
    ASSERT_TRUE(ReadUntil(child, "\n")) << "no status line arrived through the pipe";
    ASSERT_TRUE(ReadUntil(child, "\n#PCMFrames")) << "no second status line";

    const auto sent = Clock::now();
    ASSERT_EQ(kill(child.pid, GetParam()), 0);
    const std::optional<int> code = Finish(child);
    const auto stopMs = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - sent);
    RecordProperty("stop_ms", static_cast<int>(stopMs.count()));
    EXPECT_EQ(code, 0);

    const std::vector<std::string> lines = Lines(child.text);
    ASSERT_EQ(CountOf(lines, "Stopping...\n"), 1u) << child.text;
    size_t afterStop = 0;
    bool stopped = false;
    for (const std::string& line : lines) {
        if (line == "Stopping...\n") {
            stopped = true;
            continue;
        }
        EXPECT_TRUE(IsTestModeLine(line)) << "line [" << line << "]";
        if (stopped) ++afterStop;
    }
    // The loop ends at the next check of the stop request: at most a line already being formed
    // when the signal came may follow "Stopping...".
    EXPECT_LE(afterStop, 1u) << child.text;
}

INSTANTIATE_TEST_SUITE_P(Signals, StopSignal, testing::Values(SIGINT, SIGQUIT, SIGTERM, SIGHUP),
                         [](const testing::TestParamInfo<int>& info) {
                             switch (info.param) {
                                 case SIGINT:
                                     return std::string("SIGINT");
                                 case SIGQUIT:
                                     return std::string("SIGQUIT");
                                 case SIGTERM:
                                     return std::string("SIGTERM");
                                 default:
                                     return std::string("SIGHUP");
                             }
                         });

// Log mode stopped long before the log is full: the whole capacity is written, runs then zeros.
TEST(LogMode, StoppedEarlyWritesTheWholeCapacity) {
    TempDir dir;
    const fs::path file = dir.path / "runs.bin";
    // A million entries: even white noise takes tens of seconds to fill them.
    Child child = Start({"L", file.string(), "1000000", "extra"});
    ASSERT_TRUE(ReadUntil(child, "\n#Transitions"));
    ASSERT_EQ(kill(child.pid, SIGINT), 0);
    EXPECT_EQ(Finish(child), 0);

    const std::vector<std::string> lines = Lines(child.text);
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ(lines.back(), "Writing logfile...\n");
    EXPECT_EQ(CountOf(lines, "Stopping...\n"), 1u);
    for (size_t k = 0; k + 1 < lines.size(); ++k) {
        if (lines[k] == "Stopping...\n") continue;
        EXPECT_TRUE(IsLogModeLine(lines[k])) << "line [" << lines[k] << "]";
    }
    ASSERT_TRUE(fs::exists(file));
    const std::vector<uint8_t> bytes = FileBytes(file);
    EXPECT_EQ(bytes.size(), 4000000u);
    EXPECT_TRUE(IsRunsThenZeros(bytes));
}

struct CountCase {
    const char* name;
    const char* nbSamples;
    size_t fileBytes;
};

class NbSamplesAccepted : public testing::TestWithParam<CountCase> {};

// NbSamples is read like atol. A small log may fill from the input and end by itself (then
// without "Stopping..."), or end at the signal; either way the file holds the whole capacity.
TEST_P(NbSamplesAccepted, FileHoldsTheCapacityReadFromTheWord) {
    TempDir dir;
    const fs::path file = dir.path / "runs.bin";
    Child child = Start({"L", file.string(), GetParam().nbSamples});
    ASSERT_TRUE(ReadUntil(child, "\n"));
    kill(child.pid, SIGTERM);
    EXPECT_EQ(Finish(child), 0);
    const std::vector<std::string> lines = Lines(child.text);
    EXPECT_LE(CountOf(lines, "Stopping...\n"), 1u);
    EXPECT_EQ(lines.back(), "Writing logfile...\n");
    ASSERT_TRUE(fs::exists(file));
    const std::vector<uint8_t> bytes = FileBytes(file);
    EXPECT_EQ(bytes.size(), GetParam().fileBytes);
    EXPECT_TRUE(IsRunsThenZeros(bytes));
}

INSTANTIATE_TEST_SUITE_P(Words, NbSamplesAccepted,
                         testing::Values(CountCase{"DigitsThenLetters", "12abc", 48},
                                         CountCase{"LeadingBlank", " 7", 28},
                                         CountCase{"PlusSign", "+3", 12}, CountCase{"Zero", "0", 0},
                                         CountCase{"NoDigits", "abc", 0}),
                         [](const testing::TestParamInfo<CountCase>& info) {
                             return info.param.name;
                         });

// Counts the log cannot hold are refused at once: one line, code 1, no status line, no file.
TEST(LogMode, OutOfRangeCountsAreRefusedBeforeAnythingStarts) {
    for (const char* word : {"-1", "1073741824", "99999999999999999999"}) {
        SCOPED_TRACE(word);
        TempDir dir;
        const fs::path file = dir.path / "runs.bin";
        Child child = Start({"L", file.string(), word});
        EXPECT_EQ(Finish(child), 1);
        EXPECT_EQ(child.text, "ERROR NbSamples out of range \"" + std::string(word) + "\"\n");
        EXPECT_FALSE(fs::exists(file));
    }
}

// With the address space limited to 256 MiB the 4 GiB array of the largest accepted count
// cannot be allocated.
TEST(LogMode, UnallocatableLogIsRefusedBeforeAnythingStarts) {
    TempDir dir;
    const fs::path file = dir.path / "runs.bin";
    Spawn spawn;
    spawn.limits = {{RLIMIT_AS, rlim_t{256} << 20}};
    Child child = Start({"L", file.string(), "1073741823"}, spawn);
    EXPECT_EQ(Finish(child), 1);
    EXPECT_EQ(child.text, "ERROR not enough memory for 1073741823 entries\n");
    EXPECT_FALSE(fs::exists(file));
}

// The journal cannot go beside the log either: stderr says at once where it goes instead. With
// no runs stored, nothing is left behind at the end.
TEST(LogMode, MissingDirectoryIsAnOpenErrorWithCodeOne) {
    TempDir dir;
    const std::string path = (dir.path / "missing" / "runs.bin").string();
    const std::string err = (dir.path / "err").string();
    Spawn spawn;
    spawn.errPath = err;
    spawn.tmpDir = dir.path.string();
    Child child = Start({"L", path, "1000000"}, spawn);
    ASSERT_TRUE(ReadUntil(child, "\n"));
    kill(child.pid, SIGINT);
    EXPECT_EQ(Finish(child), 1);
    EXPECT_NE(
        child.text.find("Stopping...\nWriting logfile...\nERROR opening file \"" + path + "\"\n"),
        std::string::npos)
        << child.text;
    EXPECT_TRUE(child.text.ends_with("ERROR opening file \"" + path + "\"\n"));
    const std::string said = FileText(err);
    EXPECT_NE(said.find("vorlank: cannot create journal \"" + path +
                        ".partial\" (No such file or directory); using \"" +
                        (dir.path / "runs.bin.partial").string() + "\" instead\n"),
              std::string::npos)
        << said;
    EXPECT_FALSE(fs::exists(dir.path / "runs.bin.partial"));
}

struct ClosedPipeCase {
    const char* name;
    std::vector<std::string> args;
    size_t linesRead;  // what `| head -n` reads before it goes
};

class ClosedPipe : public testing::TestWithParam<ClosedPipeCase> {};

// `vorlank ... | head -n`: the reader goes, the next status line cannot be written. That stops
// the tool as Ctrl+C does (log written whole, exit code 0), with one line on stderr instead of
// "Stopping..." and no SIGPIPE death.
TEST_P(ClosedPipe, StopsInOrderWithCodeZero) {
    const ClosedPipeCase& c = GetParam();
    TempDir dir;
    const std::string err = (dir.path / "err").string();
    std::vector<std::string> args = c.args;
    for (std::string& a : args) {
        if (a == "FILE") a = (dir.path / "runs.bin").string();
    }
    Spawn spawn;
    spawn.errPath = err;
    Child child = Start(args, spawn);
    const auto deadline = Clock::now() + kLiveness;
    while (Lines(child.text).size() < c.linesRead) {
        ASSERT_EQ(ReadSome(child, deadline), ReadResult::Data) << child.text;
    }
    EXPECT_EQ(CloseOutputAndWait(child), 0);
    const std::string said = FileText(err);
    EXPECT_EQ(CountOf(Lines(said), "vorlank: standard output is gone (Broken pipe); stopping\n"),
              1u)
        << said;
    if (args[0] == "L") {
        EXPECT_EQ(fs::file_size(args[1]), 400u);
        EXPECT_TRUE(IsRunsThenZeros(FileBytes(args[1])));
        EXPECT_FALSE(fs::exists(args[1] + ".partial"));
    }
}

INSTANTIATE_TEST_SUITE_P(Modes, ClosedPipe,
                         testing::Values(ClosedPipeCase{"TestModeHead3", {"T"}, 3},
                                         ClosedPipeCase{"LogModeHead2", {"L", "FILE", "100"}, 2}),
                         [](const testing::TestParamInfo<ClosedPipeCase>& info) {
                             return info.param.name;
                         });

// Started without a standard output at all, the tool must not let the journal take descriptor 1,
// or its status lines would be written into the journal. Killed outright, the journal is left as
// it was: here, with no input, exactly empty.
TEST(LogMode, WithoutStandardOutputTheJournalHoldsOnlyRuns) {
    TempDir dir;
    const fs::path file = dir.path / "runs.bin";
    const fs::path journal = dir.path / "runs.bin.partial";
    Spawn spawn;
    spawn.noStdout = true;
    Child child = Start({"L", file.string(), "1000"}, spawn);
    const auto deadline = Clock::now() + kLiveness;
    while (!fs::exists(journal) && Clock::now() < deadline) usleep(10000);
    ASSERT_TRUE(fs::exists(journal));
    // Three status periods: lines would have reached a journal that took descriptor 1.
    usleep(1500 * 1000);
    kill(child.pid, SIGKILL);
    EXPECT_EQ(Finish(child), std::nullopt);
    EXPECT_FALSE(fs::exists(file));
    EXPECT_EQ(fs::file_size(journal), 0u);
}

struct ShortWriteCase {
    const char* name;
    bool onFullDevice;  // else a file in a directory of ours, under a 4 KiB file-size limit
    const char* nbSamples;
};

class ShortWrite : public testing::TestWithParam<ShortWriteCase> {};

// A log that could not be written whole is reported and ends with code 1, whether the write
// itself fails or only the flush at the close.
TEST_P(ShortWrite, IsReportedWithCodeOne) {
    const ShortWriteCase& c = GetParam();
    if (c.onFullDevice && !fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full on this system";
    TempDir dir;
    const std::string path = c.onFullDevice ? "/dev/full" : (dir.path / "runs.bin").string();
    Spawn spawn;
    if (!c.onFullDevice) spawn.limits.push_back({RLIMIT_FSIZE, 4096});
    Child child = Start({"L", path, c.nbSamples}, spawn);
    ASSERT_TRUE(ReadUntil(child, "\n"));
    kill(child.pid, SIGINT);
    EXPECT_EQ(Finish(child), 1);
    EXPECT_TRUE(
        child.text.ends_with("Writing logfile...\nERROR writing to file \"" + path + "\"\n"))
        << child.text;
    if (!c.onFullDevice) {
        EXPECT_EQ(fs::file_size(path), 4096u);
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, ShortWrite,
                         testing::Values(ShortWriteCase{"FullDeviceAtClose", true, "3"},
                                         ShortWriteCase{"FullDeviceInWrite", true, "1000000"},
                                         ShortWriteCase{"FileSizeLimit", false, "100000"}),
                         [](const testing::TestParamInfo<ShortWriteCase>& info) {
                             return info.param.name;
                         });

}  // namespace
