#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <limits>
#include <string>
#include <vector>

#include "app/run_log.h"
#include "app_test_output.h"
#include "test_folder.h"

namespace {

using namespace app;

using common::ReadWord;
using common::RunLevel;
using common::RunLog;
using common::WriteWord;

namespace fs = std::filesystem;

// Log mode's storing rule, run by run: the log starts on a Low run, and once it is full every
// run that ends asks for a stop again (`stops`: S where the run sets stopRequested) and is dropped.
TEST(AppendRun, StartsOnALowRunAndStopsWhenFull) {
    constexpr RunLevel kH = RunLevel::High;
    constexpr RunLevel kL = RunLevel::Low;
    const struct {
        int32_t capacity;
        std::vector<common::Run> runs;
        std::vector<int32_t> entries;
        std::string stops;
    } cases[] = {
        {4,
         {{7, kH}, {9, kL}, {8, kH}, {10, kL}, {6, kH}, {11, kL}, {3, kH}},
         {9, 8, 10, 6},
         "-----SS"},
        {4, {{9, kL}, {8, kH}, {10, kL}}, {9, 8, 10}, "---"},
        {0, {{5, kH}}, {}, "S"},
        {0, {{5, kL}}, {}, "S"},
    };
    for (const auto& c : cases) {
        std::vector<int32_t> storage(static_cast<size_t>(c.capacity) + 1, 0);
        RunLog log;
        log.capacity = c.capacity;
        log.entries = storage.data();
        common::SharedStatus status;
        std::string stops;
        for (const common::Run& run : c.runs) {
            WriteWord(status.stopRequested, 0);
            AppendRun(log, status, run);
            stops += ReadWord(status.stopRequested) != 0 ? 'S' : '-';
        }
        EXPECT_EQ(stops, c.stops) << c.capacity;
        storage.resize(static_cast<size_t>(ReadWord(log.count)));
        EXPECT_EQ(storage, c.entries) << c.capacity;
    }
}

TEST(CreateRunLog, ZeroFills) {
    for (int32_t capacity : {0, 12, 100000}) {
        RunLog log;
        CapturedOutput out;
        ASSERT_EQ(CreateRunLog(log, "log.bin", capacity, out.file), 0);
        EXPECT_EQ(out.Text(), "");
        EXPECT_STREQ(log.path, "log.bin");
        EXPECT_EQ(log.capacity, capacity);
        EXPECT_EQ(ReadWord(log.count), 0);
        for (int32_t k = 0; k < capacity; ++k) ASSERT_EQ(log.entries[k], 0) << "entry " << k;
        std::free(log.entries);
    }
}

// A run log as the slicer leaves it: `runs` stored, the rest of the capacity untouched. `path`
// must outlive the log, as argv does in the tool.
void FillLog(RunLog& log, const char* path, int32_t capacity, const std::vector<int32_t>& runs) {
    CapturedOutput unused;
    EXPECT_EQ(CreateRunLog(log, path, capacity, unused.file), 0);
    for (size_t k = 0; k < runs.size(); ++k) log.entries[k] = runs[k];
    WriteWord(log.count, static_cast<int32_t>(runs.size()));
}

TEST(WriteLogFile, StoppedEarlyWritesWholeCapacityLittleEndianWithZeroTail) {
    TempDir dir;
    const std::string file = (dir.path / "log.bin").string();
    RunLog log;
    FillLog(log, file.c_str(), 100, {9, 8, 0x01020304});
    CapturedOutput out;
    EXPECT_EQ(WriteLogFile(log, out.file), 0);
    EXPECT_EQ(out.Text(), "Writing logfile...\n");
    EXPECT_EQ(log.entries, nullptr);

    std::vector<uint8_t> expected(400, 0);
    const uint8_t head[] = {9, 0, 0, 0, 8, 0, 0, 0, 0x04, 0x03, 0x02, 0x01};
    std::copy(std::begin(head), std::end(head), expected.begin());
    EXPECT_EQ(FileBytes(file), expected);
}

TEST(WriteLogFile, FullLogReplacesAnExistingFile) {
    TempDir dir;
    const std::string file = (dir.path / "log.bin").string();
    std::ofstream(file, std::ios::binary) << std::string(1000, 'x');
    RunLog log;
    FillLog(log, file.c_str(), 4, {9, 8, 10, 6});
    CapturedOutput out;
    EXPECT_EQ(WriteLogFile(log, out.file), 0);
    EXPECT_EQ(FileBytes(file),
              (std::vector<uint8_t>{9, 0, 0, 0, 8, 0, 0, 0, 10, 0, 0, 0, 6, 0, 0, 0}));
}

TEST(WriteLogFile, ZeroCapacityCreatesAnEmptyFile) {
    TempDir dir;
    const std::string file = (dir.path / "empty.bin").string();
    RunLog log;
    FillLog(log, file.c_str(), 0, {});
    CapturedOutput out;
    EXPECT_EQ(WriteLogFile(log, out.file), 0);
    ASSERT_TRUE(fs::exists(file));
    EXPECT_EQ(fs::file_size(file), 0u);
}

TEST(WriteLogFile, MissingDirectoryIsAnOpenError) {
    TempDir dir;
    const std::string path = (dir.path / "missing" / "log.bin").string();
    RunLog log;
    FillLog(log, path.c_str(), 5, {3});
    CapturedOutput out;
    EXPECT_EQ(WriteLogFile(log, out.file), 1);
    EXPECT_EQ(out.Text(), "Writing logfile...\nERROR opening file \"" + path + "\"\n");
    EXPECT_EQ(log.entries, nullptr);
}

// /dev/full accepts the open and fails every write with ENOSPC. A small log stays in the stdio
// buffer and fails only when it is flushed at the close; a large one fails in the write itself.
TEST(WriteLogFile, FullDeviceIsAWriteErrorWhetherTheWriteOrTheCloseFails) {
    if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full on this system";
    for (int32_t capacity : {3, 1000000}) {
        SCOPED_TRACE(capacity);
        RunLog log;
        FillLog(log, "/dev/full", capacity, {7, 7, 7});
        CapturedOutput out;
        EXPECT_EQ(WriteLogFile(log, out.file), 1);
        EXPECT_EQ(out.Text(), "Writing logfile...\nERROR writing to file \"/dev/full\"\n");
    }
}

}  // namespace
