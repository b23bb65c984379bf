// The journal of log mode: where it is created, what it holds while the slicer fills the log on
// another thread, what happens to it at the end, and how it behaves when its writes fail. Also
// built for Windows and run under wine, except the tests marked POSIX.
#include "app/journal.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#ifdef _WIN32
#include <io.h>
#else
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "app/run_log.h"
#include "app/texts.h"
#include "app_test_output.h"
#include "decode/run_slicer.h"
#include "test_folder.h"

namespace {

using namespace app;

namespace fs = std::filesystem;
using common::PublishCount;
using common::ReadWord;
using common::RunLog;

// The bytes a journal or log holds for `entries`: 32-bit little-endian each.
std::string LittleEndian(const int32_t* entries, int32_t count) {
    std::string bytes;
    for (int32_t k = 0; k < count; ++k) {
        const auto v = static_cast<uint32_t>(entries[k]);
        for (int shift = 0; shift < 32; shift += 8) bytes += static_cast<char>(v >> shift);
    }
    return bytes;
}

// Points the temporary directory at `value` for one test and puts the previous setting back:
// TMPDIR, or on Windows TMP, the first variable GetTempPath reads.
struct TmpDirVariable {
#ifdef _WIN32
    static constexpr const char* kName = "TMP";
    static void Set(const char* value) {
        _putenv_s(kName, value);
    }
    // An empty value removes the variable.
    static void Unset() {
        _putenv_s(kName, "");
    }
#else
    static constexpr const char* kName = "TMPDIR";
    static void Set(const char* value) {
        setenv(kName, value, 1);
    }
    static void Unset() {
        unsetenv(kName);
    }
#endif
    std::string saved;
    bool had;
    explicit TmpDirVariable(const std::string& value) {
        const char* old = std::getenv(kName);
        had = old != nullptr;
        if (had) saved = old;
        Set(value.c_str());
    }
    ~TmpDirVariable() {
        if (had) {
            Set(saved.c_str());
        } else {
            Unset();
        }
    }
};

// A run log of `capacity` entries at `logPath`, its journal opened, stderr captured.
struct JournaledLog {
    RunLog log;
    CapturedOutput out;
    CapturedOutput diagnostics;
    Journal journal;
    JournaledLog(const std::string& logPath, int32_t capacity) {
        // `logPath` must outlive the log, as argv does in the tool.
        EXPECT_EQ(CreateRunLog(log, logPath.c_str(), capacity, out.file), 0);
        OpenJournal(journal, log, diagnostics.file);
    }
    JournaledLog(const JournaledLog&) = delete;
    JournaledLog& operator=(const JournaledLog&) = delete;
    ~JournaledLog() { std::free(log.entries); }
};

// The audio thread fills the log through the real slicer while the main thread appends to the
// journal as fast as it can; the journal must hold exactly the stored entries, never a slot read
// before its value was stored (ThreadSanitizer checks the count's release/acquire pairing too).
TEST(Journal, FollowsTheSlicerWhileItFillsTheLogAndGoesAtANormalEnd) {
    TempDir dir;
    const std::string logPath = (dir.path / "runs.bin").string();
    JournaledLog j(logPath, 60000);
    RunLog& log = j.log;
    Journal& journal = j.journal;
    ASSERT_EQ(journal.path, logPath + ".partial");

    common::SharedStatus status;
    decode::RunSlicer slicer;
    std::thread audio([&] {
        // Runs of 1 to 23 samples at +-1000, in buffers of 512 samples, until the log is full.
        uint8_t buffer[1024];
        int32_t length = 1;
        int32_t left = 1;
        int16_t level = 1000;
        while (ReadWord(status.stopRequested) == 0) {
            for (size_t i = 0; i < sizeof buffer; i += 2) {
                if (--left == 0) {
                    level = static_cast<int16_t>(-level);
                    length = length % 23 + 1;
                    left = length;
                }
                const auto u = static_cast<uint16_t>(level);
                buffer[i] = static_cast<uint8_t>(u);
                buffer[i + 1] = static_cast<uint8_t>(u >> 8);
            }
            decode::SliceBuffer(slicer, buffer, sizeof buffer,
                                [&](common::Run run) { AppendRun(log, status, run); });
        }
    });
    int32_t appends = 0;
    while (ReadWord(status.stopRequested) == 0) {
        AppendToJournal(journal, log);
        ++appends;
    }
    audio.join();
    AppendToJournal(journal, log);
    RecordProperty("appends_while_filling", appends);

    ASSERT_EQ(ReadWord(log.count), log.capacity);
    EXPECT_EQ(FileText(journal.path), LittleEndian(log.entries, log.capacity));
    EXPECT_EQ(WriteLogFile(log, j.out.file), 0);
    CloseJournal(journal, log, 0);
    EXPECT_FALSE(fs::exists(logPath + ".partial"));
    EXPECT_EQ(j.diagnostics.Text(), "");
}

// A log that stored nothing leaves no journal behind, whether or not its file was written.
TEST(Journal, WithoutRunsNothingIsKept) {
    for (int32_t logExitCode : {0, 1}) {
        TempDir dir;
        const std::string logPath = (dir.path / "runs.bin").string();
        std::ofstream(logPath) << "";
        JournaledLog j(logPath, 100);
        AppendToJournal(j.journal, j.log);
        CloseJournal(j.journal, j.log, logExitCode);
        EXPECT_FALSE(fs::exists(logPath + ".partial")) << "log exit code " << logExitCode;
        EXPECT_EQ(j.diagnostics.Text(), "");
    }
}

// A descriptor on a device whose every write fails for lack of room, as a full disk's would:
// /dev/full, which wine shows a Windows program as Z:\dev\full (and fails with ERROR_DISK_FULL).
// -1 where there is none.
int FullDevice() {
#ifdef _WIN32
    return _open("Z:\\dev\\full", _O_WRONLY | _O_BINARY);
#else
    return open("/dev/full", O_WRONLY | O_CLOEXEC);
#endif
}

// Makes the journal's disk full from now on: its descriptor is swapped for the full device's,
// while its file keeps what was written so far.
void FillDiskUnder(Journal& journal) {
    CloseFile(journal.file);
    journal.file = FullDevice();
    ASSERT_GE(journal.file, 0);
}

// A line of kAppTexts filled in with `args` (C strings and longs).
template <typename... Args>
std::string Said(const char* format, Args... args) {
    char line[2048];
    std::snprintf(line, sizeof line, format, args...);
    return line;
}

struct FullDiskCase {
    const char* name;
    const char* logName;  // in the test's folder; a missing folder puts the journal in tmp at once
    bool earlierJournal;  // an earlier run's journal holds the plain name in the temporary folder
    bool temporaryFills;  // the disk under the moved journal fills up too
    int32_t logExitCode;  // how the log file's write ended
    const char* journalName;  // the journal's name in the temporary folder at the end
    int32_t runsInJournal;    // what it holds then, of 8 runs stored
};

// A disk that fills up under the journal beside the log sends it to the temporary directory once,
// with every run stored so far; the appends go on there, the journal beside the log is gone, and
// at the end the moved journal is removed with a written log or kept and named. A journal that is
// in the temporary directory already has nowhere to go, and the moved one does not move again:
// their failures are said once, as before. Three runs are appended, then the disk fills, then
// two more runs are stored and appended, then (while the moved journal may fill as well) three
// more.
TEST(Journal, OutOfRoomMovesToTheTemporaryDirectoryOnce) {
    const int probe = FullDevice();
    if (probe < 0) GTEST_SKIP() << "no device that is always full (/dev/full) on this system";
    CloseFile(probe);
    const FullDiskCase cases[] = {
        {"MovedAndRemovedWithTheLog", "runs.bin", false, false, 0, "runs.bin.partial", 8},
        {"MovedBesideAnEarlierJournalAndKept", "runs.bin", true, false, 1, "runs.bin.1.partial", 8},
        {"MovedThenFullThereToo", "runs.bin", false, true, 1, "runs.bin.partial", 5},
        {"InTheTemporaryDirectoryFromTheStart", "missing/runs.bin", false, false, 1,
         "runs.bin.partial", 3},
    };
    const int32_t runs[] = {9, 8, 10, 6, 0x01020304, 7, 11, 12};
    const char* noRoom = std::strerror(ENOSPC);
    for (const FullDiskCase& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const fs::path tmp = dir.path / "tmp";
        fs::create_directory(tmp);
        TmpDirVariable variable(tmp.string());
        if (c.earlierJournal) std::ofstream(tmp / "runs.bin.partial") << "earlier run";
        const std::string logPath = (dir.path / c.logName).string();
        JournaledLog j(logPath, 100);
        RunLog& log = j.log;
        Journal& journal = j.journal;
        std::copy(std::begin(runs), std::end(runs), log.entries);
        const bool startsBeside = journal.path == logPath + ".partial";
        ASSERT_EQ(startsBeside, std::string(c.logName) == "runs.bin");
        std::string said = j.diagnostics.Text();

        PublishCount(log.count, 3);
        AppendToJournal(journal, log);
        const std::string first = journal.path;
        FillDiskUnder(journal);
        PublishCount(log.count, 5);
        AppendToJournal(journal, log);
        if (startsBeside) {
            said += Said(kAppTexts.journalMoved, first.c_str(), noRoom, journal.path.c_str());
            EXPECT_FALSE(fs::exists(first));
        } else {
            said += Said(kAppTexts.journalNotWritten, first.c_str(), noRoom);
        }
        if (c.temporaryFills) {
            FillDiskUnder(journal);
            said += Said(kAppTexts.journalNotWritten, journal.path.c_str(), noRoom);
        }
        PublishCount(log.count, 8);
        AppendToJournal(journal, log);
        AppendToJournal(journal, log);

        const fs::path moved = journal.path;
        EXPECT_TRUE(fs::equivalent(moved.parent_path(), tmp));
        EXPECT_EQ(moved.filename().string(), c.journalName);
        EXPECT_EQ(FileText(moved), LittleEndian(runs, c.runsInJournal));
        if (c.earlierJournal) {
            EXPECT_EQ(FileText(tmp / "runs.bin.partial"), "earlier run");
        }
        if (c.logExitCode == 0) std::ofstream(logPath) << "written";
        CloseJournal(journal, log, c.logExitCode);
        if (c.logExitCode == 0) {
            EXPECT_FALSE(fs::exists(moved));
        } else if (c.runsInJournal == 8) {
            said += Said(kAppTexts.journalHoldsAll, logPath.c_str(), 8L, moved.string().c_str());
        } else {
            said += Said(kAppTexts.journalHoldsSome, logPath.c_str(), moved.string().c_str(),
                         static_cast<long>(c.runsInJournal), 8L);
        }
        EXPECT_EQ(j.diagnostics.Text(), said);
    }
}

#ifndef _WIN32
// POSIX: the paths below are written with '/', and the limit is a POSIX resource limit.

struct PlaceCase {
    const char* name;
    const char* logName;  // relative to the test's folder, D below
    const char* tmpDir;   // TMPDIR, relative to the test's folder
    int32_t capacity;
    std::vector<const char*> taken;  // files that exist before the journal is opened
    const char* journal;             // where it must go; nullptr: no journal at all
    const char* openLine;            // stderr at the start, with D for the test's folder
};

// Where the journal goes, and that nothing already there is replaced. Three runs are then stored
// and the log counts as not written: the journal stays, holds them, and stderr names it.
TEST(Journal, GoesBesideTheLogElseToTheTemporaryDirectoryWithoutReplacingAnything) {
    const PlaceCase cases[] = {
        {"Beside", "runs.bin", "tmp", 100, {}, "runs.bin.partial", ""},
        {"NamesTaken",
         "runs.bin",
         "tmp",
         100,
         {"runs.bin.partial", "runs.bin.1.partial"},
         "runs.bin.2.partial",
         "vorlank: cannot create journal \"D/runs.bin.partial\" (File exists); using "
         "\"D/runs.bin.2.partial\" instead\n"},
        {"MissingDirectory",
         "missing/runs.bin",
         "tmp",
         100,
         {},
         "tmp/runs.bin.partial",
         "vorlank: cannot create journal \"D/missing/runs.bin.partial\" (No such file or "
         "directory); using \"D/tmp/runs.bin.partial\" instead\n"},
        {"NowhereAtAll",
         "missing/runs.bin",
         "missing-too",
         100,
         {},
         nullptr,
         "vorlank: cannot create journal \"D/missing/runs.bin.partial\" (No such file or "
         "directory) nor \"D/missing-too/runs.bin.partial\" (No such file or directory); logging "
         "without a journal\n"},
        {"CapacityZero", "runs.bin", "tmp", 0, {}, nullptr, ""},
    };
    for (const PlaceCase& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const std::string d = dir.path.string();
        fs::create_directory(dir.path / "tmp");
        TmpDirVariable tmp(d + "/" + c.tmpDir);
        for (const char* name : c.taken) std::ofstream(dir.path / name) << "earlier run";
        const std::string logPath = d + "/" + c.logName;
        JournaledLog j(logPath, c.capacity);
        RunLog& log = j.log;
        Journal& journal = j.journal;

        std::string openLine = c.openLine;
        for (size_t at = openLine.find("\"D/"); at != std::string::npos;
             at = openLine.find("\"D/")) {
            openLine.replace(at + 1, 1, d);
        }
        EXPECT_EQ(j.diagnostics.Text(), openLine);
        for (const char* name : c.taken) EXPECT_EQ(FileText(dir.path / name), "earlier run");

        const int32_t runs[] = {9, 8, 0x01020304};
        const int32_t stored = std::min(log.capacity, 3);
        for (int32_t k = 0; k < stored; ++k) log.entries[k] = runs[k];
        PublishCount(log.count, stored);
        AppendToJournal(journal, log);
        CloseJournal(journal, log, 1);
        if (c.journal == nullptr) {
            EXPECT_EQ(journal.path, "");
            EXPECT_EQ(j.diagnostics.Text(), openLine);
            continue;
        }
        const std::string where = d + "/" + c.journal;
        EXPECT_EQ(journal.path, where);
        EXPECT_EQ(FileText(where), LittleEndian(runs, 3));
        std::string said = openLine;
        said += Said(kAppTexts.journalHoldsAll, logPath.c_str(), 3L, where.c_str());
        EXPECT_EQ(j.diagnostics.Text(), said);
    }
}

// A journal that cannot be written (here: a 10-byte file-size limit, as a full disk would do)
// tries the temporary directory, where the same limit cuts the copy short: the copy is removed
// and the failure is said once while the appends go on. Once writes succeed again the journal
// catches up from the very byte it stopped at, in the middle of an entry; while they fail, the
// end names how many whole runs it holds.
TEST(Journal, FailedWritesAreSaidOnceAndCaughtUpFromTheByteTheyStoppedAt) {
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    ASSERT_EQ(sigaction(SIGXFSZ, &ignore, nullptr), 0);
    for (bool writesRecover : {false, true}) {
        SCOPED_TRACE(writesRecover ? "writes recover" : "writes keep failing");
        TempDir dir;
        const std::string logPath = (dir.path / "runs.bin").string();
        const fs::path tmp = dir.path / "tmp";
        fs::create_directory(tmp);
        TmpDirVariable variable(tmp.string());
        RunLog log;
        CapturedOutput out;
        // In memory: a file would be cut by the same limit.
        char* said = nullptr;
        size_t saidBytes = 0;
        FILE* diagnostics = open_memstream(&said, &saidBytes);
        ASSERT_EQ(CreateRunLog(log, logPath.c_str(), 100, out.file), 0);
        Journal journal;
        OpenJournal(journal, log, diagnostics);
        for (int32_t k = 0; k < 7; ++k) log.entries[k] = 1000 + k;

        rlimit saved{};
        ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
        const rlimit small{10, saved.rlim_max};
        ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
        PublishCount(log.count, 5);
        AppendToJournal(journal, log);
        PublishCount(log.count, 7);
        AppendToJournal(journal, log);
        if (writesRecover) {
            ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &saved), 0);
            AppendToJournal(journal, log);
        }
        CloseJournal(journal, log, 1);
        ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &saved), 0);

        const char* tooLarge = std::strerror(EFBIG);
        const std::string failed = Said(kAppTexts.journalNotMoved, journal.path.c_str(), tooLarge,
                                        (tmp.string() + "/runs.bin.partial").c_str(), tooLarge);
        const std::string kept =
            writesRecover
                ? Said(kAppTexts.journalHoldsAll, logPath.c_str(), 7L, journal.path.c_str())
                : Said(kAppTexts.journalHoldsSome, logPath.c_str(), journal.path.c_str(), 2L, 7L);
        std::fclose(diagnostics);
        EXPECT_EQ(std::string(said, saidBytes), failed + kept);
        std::free(said);
        EXPECT_EQ(FileText(journal.path),
                  LittleEndian(log.entries, 7).substr(0, writesRecover ? 28 : 10));
        EXPECT_TRUE(fs::is_empty(tmp));
        std::free(log.entries);
    }
}

#endif  // _WIN32

}  // namespace
