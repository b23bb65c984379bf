#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>
#include <string>
#include <thread>

#include "app/console_stop.h"
#include "app/texts.h"
#include "app_test_output.h"

namespace {

using namespace app;

using common::ReadWord;
using common::SharedStatus;
using common::WriteWord;

// Polls for a condition set by another thread; the bound only guards against a hang.
template <typename Condition>
bool Eventually(Condition condition) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// Each test that installs the binding starts from the mask and dispositions a fresh process has,
// even when an earlier test in the same process installed it already.
void ResetStopSignals() {
    sigset_t signals;
    sigemptyset(&signals);
    struct sigaction byDefault {};
    byDefault.sa_handler = SIG_DFL;
    for (int signal : {SIGINT, SIGQUIT, SIGTERM, SIGHUP}) {
        sigaddset(&signals, signal);
        sigaction(signal, &byDefault, nullptr);
    }
    pthread_sigmask(SIG_UNBLOCK, &signals, nullptr);
}

std::string Stopping(int times) {
    std::string lines;
    for (int k = 0; k < times; ++k) lines += kAppTexts.stopping;
    return lines;
}

// Requests set the stop word at once; the main thread prints each once, and sleeps its whole
// period all the same; after the main sequence is done they are ignored.
TEST(RequestConsoleStop, PrintedOnceEachByTheSleeperWhichKeepsItsPeriod) {
    SharedStatus status;
    CapturedOutput out;
    ConsoleStop stop;
    stop.status = &status;
    stop.out = out.file;
    EXPECT_TRUE(RequestConsoleStop(stop));
    EXPECT_TRUE(RequestConsoleStop(stop));
    EXPECT_EQ(ReadWord(status.stopRequested), 1);
    EXPECT_EQ(out.Text(), "");
    SleepUntilStopRequest(&stop, 0);
    EXPECT_EQ(out.Text(), Stopping(2));

    std::thread requester([&stop] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        RequestConsoleStop(stop);
    });
    const auto start = std::chrono::steady_clock::now();
    SleepUntilStopRequest(&stop, 300);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(300));
    requester.join();
    EXPECT_EQ(out.Text(), Stopping(3));

    EXPECT_TRUE(RequestConsoleStop(stop));
    MarkMainSequenceDone(stop);
    EXPECT_FALSE(RequestConsoleStop(stop));
    EXPECT_EQ(out.Text(), Stopping(4));
}

TEST(WaitMainSequenceDone, ReturnsWhenMarkedOrGivesUpAtTheTimeout) {
    ConsoleStop stop;
    EXPECT_FALSE(WaitMainSequenceDone(stop, 0));
    EXPECT_FALSE(WaitMainSequenceDone(stop, 30));

    std::thread marker([&stop] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        MarkMainSequenceDone(stop);
    });
    EXPECT_TRUE(WaitMainSequenceDone(stop, kConsoleCloseWaitMs));
    marker.join();
    EXPECT_TRUE(WaitMainSequenceDone(stop, 0));
}

// Each stop signal sent to the process is fetched by the watcher thread: the stop request is set
// and "Stopping..." printed once per signal, and the process is not ended by it.
TEST(PosixConsoleStop, EveryStopSignalRequestsAStopAndPrintsOnce) {
    ResetStopSignals();
    SharedStatus status;
    CapturedOutput out;
    ConsoleStop stop;
    InstallConsoleStop(stop, status, out.file);
    ASSERT_TRUE(stop.watcher.joinable());

    std::string expected;
    for (int signal : {SIGINT, SIGQUIT, SIGTERM, SIGHUP}) {
        SCOPED_TRACE(signal);
        WriteWord(status.stopRequested, 0);
        ASSERT_EQ(kill(getpid(), signal), 0);
        ASSERT_TRUE(Eventually([&] { return ReadWord(status.stopRequested) == 1; }));
        SleepUntilStopRequest(&stop, 0);
        expected += kAppTexts.stopping;
        ASSERT_EQ(out.Text(), expected);
    }

    MarkMainSequenceDone(stop);
    EXPECT_FALSE(stop.watcher.joinable());

    // Once the main sequence is done a late signal stays pending: nothing printed, no stop, and
    // the process lives on.
    WriteWord(status.stopRequested, 0);
    ASSERT_EQ(kill(getpid(), SIGTERM), 0);
    sigset_t pending;
    ASSERT_EQ(sigpending(&pending), 0);
    EXPECT_EQ(sigismember(&pending, SIGTERM), 1);
    EXPECT_EQ(ReadWord(status.stopRequested), 0);
    EXPECT_EQ(out.Text(), expected);

    // Take the pending signal, so that a later test in this process starts clean.
    sigset_t late;
    sigemptyset(&late);
    sigaddset(&late, SIGTERM);
    int taken = 0;
    EXPECT_EQ(sigwait(&late, &taken), 0);
    EXPECT_EQ(taken, SIGTERM);
}

// A stop signal inherited as ignored (nohup, background jobs) stays ignored; the others still
// stop the tool.
TEST(PosixConsoleStop, InheritedIgnoredSignalStaysIgnored) {
    ResetStopSignals();
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    ASSERT_EQ(sigaction(SIGHUP, &ignore, nullptr), 0);

    SharedStatus status;
    CapturedOutput out;
    ConsoleStop stop;
    InstallConsoleStop(stop, status, out.file);
    sigset_t blocked;
    ASSERT_EQ(pthread_sigmask(SIG_BLOCK, nullptr, &blocked), 0);
    EXPECT_EQ(sigismember(&blocked, SIGHUP), 0);
    EXPECT_EQ(sigismember(&blocked, SIGTERM), 1);

    ASSERT_EQ(kill(getpid(), SIGHUP), 0);
    ASSERT_EQ(kill(getpid(), SIGTERM), 0);
    ASSERT_TRUE(Eventually([&] { return ReadWord(status.stopRequested) == 1; }));
    MarkMainSequenceDone(stop);
    EXPECT_EQ(out.Text(), kAppTexts.stopping);
}

}  // namespace
