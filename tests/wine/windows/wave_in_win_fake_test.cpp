// The winmm layer when the device misbehaves: it comes late, goes away, drops sound, or hangs in
// its open. The layer runs here on the fake winmm of fake_winmm.h, which can do all of that on
// cue; no sound server is needed. What the layer says about it goes to stderr, which the tests
// catch in a file.
#include <cstdio>
#include <new>
#include <string>

#include "capture/sound_input.h"
#include "tests/stderr_capture.h"
#include "tests/wine/windows/fake_winmm.h"
#include "tests/wine/windows/recorder.h"

// Every allocation through operator new in this program, so that a test can tell that the layer
// allocates nothing while it records and while it reconnects.
namespace {
std::atomic<uint64_t> allocations{0};
}  // namespace

void* operator new(size_t size) {
    ++allocations;
    if (void* block = HeapAlloc(GetProcessHeap(), 0, size > 0 ? size : 1)) return block;
    throw std::bad_alloc();
}
void operator delete(void* block) noexcept {
    if (block != nullptr) HeapFree(GetProcessHeap(), 0, block);
}
void operator delete(void* block, size_t) noexcept {
    operator delete(block);
}

namespace {

using capture::kCaptureTexts;
using namespace wavetest;

// One run of the layer on a fresh fake, with the capture sequence's two buffers.
struct Session {
    Session() { ResetFakeWinmm(); }
    FakeWinmm& fake = TheFakeWinmm();
    StderrCapture errors;
    Recorder rec;
    Buffers buffers;

    void Start() {
        ASSERT_EQ(OpenRecorder(rec, MonoPcm16()), MMSYSERR_NOERROR);
        StartRecording(rec, buffers);
    }
    bool WaitForBuffers(int more) {
        const int target = rec.dataCount.load() + more;
        return WaitUntil([&] { return rec.dataCount.load() >= target; });
    }
};

// A line of kCaptureTexts for the "default" device, as StderrCapture gives it (no newline).
std::string Said(const char* format, const char* reason = "") {
    char line[256];
    std::snprintf(line, sizeof line, format, "default", reason);
    const std::string text(line);
    return text.substr(0, text.find('\n'));
}

const std::string kCannotOpen = Said(kCaptureTexts.cannotOpen, "Fake: no such device");
const std::string kOpened = Said(kCaptureTexts.opened);
const std::string kGone = Said(kCaptureTexts.gone, "no sound for 1 s");
const std::string kBack = Said(kCaptureTexts.back);

TEST(WaveInWinFake, ADeviceThatComesLateIsTriedQuietlyAboutOnceASecondAndThenRecords) {
    Session s;
    s.fake.opensToFail = 3;
    s.rec.samples.reserve(kRate);
    const ULONGLONG opened = GetTickCount64();
    s.Start();  // the open succeeds although the device is not there yet
    ASSERT_TRUE(s.WaitForBuffers(40));
    const ULONGLONG recordedAfterMs = GetTickCount64() - opened;
    TakeDown(s.rec, s.buffers);

    EXPECT_EQ(s.fake.opensTried.load(), 4);
    // Three retries, each a second after the failure before it: a missing device is not hammered.
    EXPECT_GE(recordedAfterMs, 2900u);
    EXPECT_EQ(s.errors.Lines(), (std::vector<std::string>{kCannotOpen, kOpened}));
    std::lock_guard<std::mutex> guard(s.rec.lock);
    EXPECT_GE(s.rec.samples.size(), 40u * 512);
    EXPECT_EQ(RampBreaks(s.rec.samples), 0u);
}

TEST(WaveInWinFake, ADeviceThatGoesAwayIsClosedAndOpenedAgainAndTheCallersHeadersCarryOn) {
    Session s;
    s.rec.messages.reserve(4096);
    s.Start();
    ASSERT_TRUE(s.WaitForBuffers(20));
    const uint64_t allocationsBefore = allocations.load();
    s.fake.silent = true;
    ASSERT_TRUE(WaitUntil([&] { return s.fake.closes.load() == 1; }));
    s.fake.silent = false;
    ASSERT_TRUE(s.WaitForBuffers(40));
    const uint64_t allocated = allocations.load() - allocationsBefore;
    TakeDown(s.rec, s.buffers);

    EXPECT_EQ(allocated, 0u) << "allocations while recording, losing and reopening the device";
    EXPECT_EQ(s.fake.opensSucceeded.load(), 2);
    EXPECT_EQ(s.fake.closes.load(), 2);
    EXPECT_EQ(s.errors.Lines(), (std::vector<std::string>{kGone, kBack}));
    // The same two headers throughout, in the order they were queued.
    std::lock_guard<std::mutex> guard(s.rec.lock);
    DWORD_PTR expectedUser = 0;
    for (const Message& m : s.rec.messages) {
        if (m.message != WIM_DATA) continue;
        EXPECT_EQ(m.user, expectedUser);
        expectedUser ^= 1;
    }
}

TEST(WaveInWinFake, SoundThatNeverArrivesIsReportedOnceWithAboutHowMuch) {
    struct Case {
        const char* what;
        int skipMs;    // the device drops this much sound
        DWORD holdMs;  // one completion takes this long: the driver runs out of blocks
    };
    const Case cases[] = {
        {"the device drops 300 ms", 300, 0},
        {"a completion takes 400 ms", 0, 400},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Session s;
        s.Start();
        ASSERT_TRUE(s.WaitForBuffers(40));
        s.fake.skipMs = c.skipMs;
        s.rec.holdNextMs = c.holdMs;
        ASSERT_TRUE(WaitUntil([&] { return !s.errors.Lines().empty(); }));
        // Long enough for a second report, if there were to be one.
        ASSERT_TRUE(s.WaitForBuffers(80));
        const double dropped = static_cast<double>(s.fake.samplesDropped.load());
        TakeDown(s.rec, s.buffers);

        const std::vector<std::string> lines = s.errors.Lines();
        ASSERT_EQ(lines.size(), 1u);
        unsigned long long reported = 0;
        ASSERT_EQ(std::sscanf(lines[0].c_str(), kCaptureTexts.overrun, &reported), 1) << lines[0];
        std::printf("%s: reported %llu samples lost, the device dropped %.0f\n", c.what, reported,
                    dropped);
        // Within 50 ms of what the device really dropped.
        EXPECT_NEAR(static_cast<double>(reported), dropped, 0.050 * kRate);
    }
}

TEST(WaveInWinFake, CloseDoesNotWaitForAnOpenThatHangsAndWhatOpensLaterIsClosed) {
    Session s;
    s.fake.holdOpens = true;
    s.Start();
    ASSERT_TRUE(WaitUntil([&] { return s.fake.opensInProgress.load() == 1; }));
    TakeDown(s.rec, s.buffers);
    EXPECT_EQ(s.fake.opensInProgress.load(), 1) << "waveInClose waited for the open";
    const size_t seenAtClose = MessageCount(s.rec);

    s.fake.holdOpens = false;
    ASSERT_TRUE(WaitUntil([&] { return s.fake.closes.load() == 1; }));
    EXPECT_EQ(s.fake.opensSucceeded.load(), 1);
    Sleep(200);
    EXPECT_EQ(MessageCount(s.rec), seenAtClose) << "the routine ran after waveInClose";
    std::lock_guard<std::mutex> guard(s.rec.lock);
    ASSERT_EQ(s.rec.messages.size(), 4u);
    EXPECT_EQ(s.rec.messages[0].message, static_cast<UINT>(WIM_OPEN));
    for (const size_t i : {1u, 2u}) {
        EXPECT_EQ(s.rec.messages[i].message, static_cast<UINT>(WIM_DATA));
        EXPECT_EQ(s.rec.messages[i].bytes, 0u);
    }
    EXPECT_EQ(s.rec.messages[3].message, static_cast<UINT>(WIM_CLOSE));
    EXPECT_TRUE(s.errors.Lines().empty());
}

}  // namespace
