#include <gtest/gtest.h>

#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/pipeline.h"
#include "app/status_loop.h"
#include "app/texts.h"
#include "app_test_output.h"

namespace {

using namespace app;

using common::Mode;
using common::ReadWord;
using common::RunLog;
using common::SharedStatus;
using common::WriteWord;
using decode::DecodeEvent;
using decode::DecodeEventKind;

struct ParseCase {
    std::vector<const char*> words;
    int32_t exitCode;
    Mode mode;
    const char* fileName;
    int32_t runCount;
};

TEST(ParseCommandLine, MatchesWholeCaseSensitiveWordsTBeforeL) {
    const ParseCase cases[] = {
        {{}, 1, Mode::Test, nullptr, 0},
        {{"X"}, 1, Mode::Test, nullptr, 0},
        {{"t"}, 1, Mode::Test, nullptr, 0},
        {{"l", "f", "3"}, 1, Mode::Test, nullptr, 0},
        {{"TT"}, 1, Mode::Test, nullptr, 0},
        {{"T "}, 1, Mode::Test, nullptr, 0},
        {{""}, 1, Mode::Test, nullptr, 0},
        {{"L"}, 1, Mode::Test, nullptr, 0},
        {{"L", "log.bin"}, 1, Mode::Test, nullptr, 0},
        {{"T"}, 0, Mode::Test, nullptr, 0},
        {{"T", "extra", "words"}, 0, Mode::Test, nullptr, 0},
        {{"T", "L", "f", "3"}, 0, Mode::Test, nullptr, 0},
        {{"L", "log.bin", "12abc"}, 0, Mode::Log, "log.bin", 12},
        {{"L", "T", "5", "extra"}, 0, Mode::Log, "T", 5},
        {{"L", "log.bin", "abc"}, 0, Mode::Log, "log.bin", 0},
        {{"L", "log.bin", " +7"}, 0, Mode::Log, "log.bin", 7},
        {{"L", "log.bin", "1073741823"}, 0, Mode::Log, "log.bin", 1073741823},
    };
    for (const ParseCase& c : cases) {
        std::string shown;
        for (const char* w : c.words) shown += std::string("[") + w + "]";
        SCOPED_TRACE("words " + shown);
        CapturedOutput out;
        const CommandLine result =
            ParseCommandLine(static_cast<int>(c.words.size()), c.words.data(), out.file);
        EXPECT_EQ(result.exitCode, c.exitCode);
        EXPECT_EQ(out.Text(), c.exitCode == 0 ? "" : kAppTexts.usage);
        if (c.exitCode != 0) continue;
        EXPECT_EQ(result.mode, c.mode);
        EXPECT_STREQ(result.fileName, c.fileName);
        EXPECT_EQ(result.runCount, c.runCount);
    }
}

TEST(ParseCommandLine, RefusesNegativeAndOversizedRunCountsWithTheWordAsGiven) {
    for (const char* word : {"-1", " -7x", "1073741824", "2147483648", "99999999999999999999"}) {
        const char* words[] = {"L", "log.bin", word};
        CapturedOutput out;
        EXPECT_EQ(ParseCommandLine(3, words, out.file).exitCode, 1);
        EXPECT_EQ(out.Text(), "ERROR NbSamples out of range \"" + std::string(word) + "\"\n");
    }
}

TEST(ReadCount, FollowsAtolWithoutOverflow) {
    constexpr int64_t kMax = std::numeric_limits<int32_t>::max();
    constexpr int64_t kMin = std::numeric_limits<int32_t>::min();
    const std::pair<const char*, int64_t> cases[] = {
        {"0", 0},
        {"12abc", 12},
        {" 7", 7},
        {"\t\n\v\f\r 42", 42},
        {"+3", 3},
        {"007", 7},
        {"-1", -1},
        {"-0", 0},
        {"abc", 0},
        {"", 0},
        {"- 5", 0},
        {"+-3", 0},
        {"1073741823", 1073741823},
        {"1073741824", 1073741824},
        {"2147483647", kMax},
        {"2147483648", kMax},
        {"99999999999999999999", kMax},
        {"-2147483648", kMin},
        {"-99999999999999999999", kMin},
    };
    for (const auto& [word, value] : cases) {
        EXPECT_EQ(ReadCount(word), value) << "word \"" << word << "\"";
    }
}

// Stands in for the 500 ms sleep: records each period and lets the test change the shared words
// "while the loop sleeps". `onSleep` gets the number of sleeps so far, from 1.
struct FakeSleep {
    std::vector<int32_t> periods;
    std::function<void(size_t)> onSleep;
};

void SleepFake(void* context, int32_t milliseconds) {
    auto& fake = *static_cast<FakeSleep*>(context);
    fake.periods.push_back(milliseconds);
    fake.onSleep(fake.periods.size());
}

struct LoopBench {
    SharedStatus status;
    RunLog runLog;
    CapturedOutput out;
    FakeSleep fake;
    StatusLoop loop;

    explicit LoopBench(Mode mode) {
        loop.mode = mode;
        loop.status = &status;
        loop.runLog = &runLog;
        loop.out = out.file;
        loop.sleep = SleepFake;
        loop.sleepContext = &fake;
    }
    void StopAfterSleeps(size_t n) {
        fake.onSleep = [this, n](size_t sleeps) {
            if (sleeps == n) WriteWord(status.stopRequested, 1);
        };
    }
};

TEST(RunStatusLoop, StopBeforeStartPrintsNoLineAndNeverSleeps) {
    for (Mode mode : {Mode::Test, Mode::Log}) {
        LoopBench bench(mode);
        bench.StopAfterSleeps(1);
        WriteWord(bench.status.stopRequested, 1);
        RunStatusLoop(bench.loop);
        EXPECT_EQ(bench.out.Text(), "");
        EXPECT_TRUE(bench.fake.periods.empty());
    }
}

TEST(RunStatusLoop, StopDuringSleepEndsWithoutAnotherLine) {
    LoopBench bench(Mode::Log);
    bench.StopAfterSleeps(3);
    RunStatusLoop(bench.loop);
    EXPECT_EQ(bench.out.Text(),
              "#Transitions      0 \n#Transitions      0 \n#Transitions      0 \n");
    EXPECT_EQ(bench.fake.periods, (std::vector<int32_t>{500, 500, 500}));
}

struct TestLineCase {
    int32_t framesAtLastLine;
    int32_t frames;
    int32_t errors;
    int32_t pos1;
    const char* line;
};

TEST(RunStatusLoop, TestModeLineFormatsAndRate) {
    const TestLineCase cases[] = {
        {0, 0, 0, 0, "#PCMFrames =      0 (  0/s)  #PCMErrors =      0  Pos1 =    0\n"},
        {0, 37, 0, 0, "#PCMFrames =     37 ( 74/s)  #PCMErrors =      0  Pos1 =    0\n"},
        {100, 137, 5, 1023, "#PCMFrames =    137 ( 74/s)  #PCMErrors =      5  Pos1 = 1023\n"},
        {0, 999999, 999999, 512,
         "#PCMFrames = 999999 (1999998/s)  #PCMErrors = 999999  Pos1 =  512\n"},
        {5, 1234567, 7654321, 1,
         "#PCMFrames = 1234567 (2469124/s)  #PCMErrors = 7654321  Pos1 =    1\n"},
    };
    for (const TestLineCase& c : cases) {
        SCOPED_TRACE(c.line);
        LoopBench bench(Mode::Test);
        bench.StopAfterSleeps(1);
        bench.loop.framesAtLastLine = c.framesAtLastLine;
        WriteWord(bench.status.pcmFrames, c.frames);
        WriteWord(bench.status.pcmErrors, c.errors);
        WriteWord(bench.status.pos1, c.pos1);
        RunStatusLoop(bench.loop);
        EXPECT_EQ(bench.out.Text(), c.line);
        EXPECT_EQ(bench.loop.framesAtLastLine, c.frames);
    }
}

TEST(RunStatusLoop, RateCountsFramesSinceThePreviousLine) {
    LoopBench bench(Mode::Test);
    const int32_t framesAfterSleep[] = {37, 37, 40};
    bench.fake.onSleep = [&bench, &framesAfterSleep](size_t sleeps) {
        if (sleeps > 3) {
            WriteWord(bench.status.stopRequested, 1);
            return;
        }
        WriteWord(bench.status.pcmFrames, framesAfterSleep[sleeps - 1]);
        WriteWord(bench.status.pos1, static_cast<int32_t>(sleeps));
    };
    RunStatusLoop(bench.loop);
    EXPECT_EQ(bench.out.Text(),
              "#PCMFrames =      0 (  0/s)  #PCMErrors =      0  Pos1 =    0\n"
              "#PCMFrames =     37 ( 74/s)  #PCMErrors =      0  Pos1 =    1\n"
              "#PCMFrames =     37 (  0/s)  #PCMErrors =      0  Pos1 =    2\n"
              "#PCMFrames =     40 (  6/s)  #PCMErrors =      0  Pos1 =    3\n");
}

TEST(RunStatusLoop, LogModeShowsTheRunLogCountWithTrailingBlank) {
    const std::pair<int32_t, const char*> cases[] = {
        {0, "#Transitions      0 \n"},
        {42, "#Transitions     42 \n"},
        {999999, "#Transitions 999999 \n"},
        {1073741823, "#Transitions 1073741823 \n"},
    };
    for (const auto& [count, line] : cases) {
        LoopBench bench(Mode::Log);
        bench.StopAfterSleeps(1);
        WriteWord(bench.runLog.count, count);
        RunStatusLoop(bench.loop);
        EXPECT_EQ(bench.out.Text(), line);
    }
}

// What each decoder event changes in the words the test-mode line shows. The counters run for as
// long as the tool does: at their largest value they wrap like any 32-bit counter.
TEST(UpdateStatusWords, CountsFramesAndErrorsAndShowsEachNewPos1) {
    const struct {
        DecodeEvent event;
        int32_t frames = 0;
        int32_t errors = 0;
        int32_t pos1 = 0;
    } cases[] = {
        {{DecodeEventKind::FrameComplete, 14, 5, 0x2AA}, 1, 0, 7},
        {{DecodeEventKind::BadHeader, -1, 15}, 0, 1, 7},
        {{DecodeEventKind::InvalidWord, 20, -1}, 0, 1, 7},
        {{DecodeEventKind::Pos1Written, 18, 60, 0x3C3, 1023}, 0, 0, 1023},
        {{DecodeEventKind::SymbolStored, 3, 8}, 0, 0, 7},
        {{DecodeEventKind::FrameStarted}, 0, 0, 7},
        {{DecodeEventKind::HeaderKindB}, 0, 0, 7},
        {{DecodeEventKind::None}, 0, 0, 7},
    };
    for (const auto& c : cases) {
        SharedStatus status;
        WriteWord(status.pos1, 7);
        UpdateStatusWords(status, c.event);
        EXPECT_EQ(ReadWord(status.pcmFrames), c.frames) << static_cast<int>(c.event.kind);
        EXPECT_EQ(ReadWord(status.pcmErrors), c.errors) << static_cast<int>(c.event.kind);
        EXPECT_EQ(ReadWord(status.pos1), c.pos1) << static_cast<int>(c.event.kind);
    }

    SharedStatus status;
    WriteWord(status.pcmFrames, std::numeric_limits<int32_t>::max());
    WriteWord(status.pcmErrors, std::numeric_limits<int32_t>::max());
    UpdateStatusWords(status, {DecodeEventKind::FrameComplete});
    UpdateStatusWords(status, {DecodeEventKind::BadHeader});
    EXPECT_EQ(ReadWord(status.pcmFrames), std::numeric_limits<int32_t>::min());
    EXPECT_EQ(ReadWord(status.pcmErrors), std::numeric_limits<int32_t>::min());
}

}  // namespace
