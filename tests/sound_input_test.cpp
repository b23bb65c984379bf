// The sound input as the app sees it: whole blocks of samples in the order they were recorded, on
// one thread of the input's own; a late device reported once and captured once it comes; a stop
// that returns in every state, after which the sink is never called again.
//
// The device is a ramp, sample n = 7 n (mod 2^16), so any stretch lost or repeated shows as a
// break. On Linux the real ALSA layer reads it through alsa-lib's own file plugin over its null
// plugin, set up as "default" by an ALSA configuration of the test's; on Windows (under wine)
// the real winmm layer records it from the fake winmm of tests/wine/windows.
#include "capture/sound_input.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "common/shared_types.h"
#include "tests/stderr_capture.h"

#ifdef _WIN32
#include "tests/wine/windows/fake_winmm.h"
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#endif

namespace {

using namespace capture;

using common::ReadWord;

using Clock = std::chrono::steady_clock;
constexpr uint16_t kRampStep = 7;

#ifdef _WIN32

// The fake winmm: it opens, fails or hangs on cue, and records the ramp in real time.
class TestDevice {
public:
    TestDevice() { ResetFakeWinmm(); }
    void Present() {
        fake_.opensToFail = 0;
        fake_.holdOpens = false;
    }
    void Missing() { fake_.opensToFail = 1 << 30; }
    void HangOpens() { fake_.holdOpens = true; }
    void Release() { fake_.holdOpens = false; }

private:
    FakeWinmm& fake_ = TheFakeWinmm();
};

#else

// ALSA's "default" as the test sets it, in a configuration file the layer reads afresh for every
// attempt to open. The null plugin has no clock: the ramp arrives as fast as it is read, so a
// test takes what it needs and stops.
class TestDevice {
public:
    TestDevice() {
        const auto* info = testing::UnitTest::GetInstance()->current_test_info();
        folder = std::filesystem::temp_directory_path() /
                 ("vorlank_" + std::string(info->name()) + "_" + std::to_string(getpid()));
        std::filesystem::create_directories(folder);
        std::vector<int16_t> ramp(64 * kSoundBlockBytes / 2);
        for (size_t n = 0; n < ramp.size(); ++n) ramp[n] = static_cast<int16_t>(n * kRampStep);
        std::ofstream(folder / "ramp.raw", std::ios::binary)
            .write(reinterpret_cast<const char*>(ramp.data()),
                   static_cast<std::streamsize>(ramp.size() * sizeof ramp[0]));
        setenv("ALSA_CONFIG_PATH", (folder / "asound.conf").c_str(), 1);
    }
    ~TestDevice() {
        unsetenv("ALSA_CONFIG_PATH");
        std::filesystem::remove_all(folder);
    }
    TestDevice(const TestDevice&) = delete;
    TestDevice& operator=(const TestDevice&) = delete;

    void Present() { ReadingFrom(folder / "ramp.raw"); }
    // A card that does not exist.
    void Missing() { Configure("pcm.!default { type hw card 99 }\n"); }
    // Opening the file plugin opens its input file, and a FIFO that nobody writes to keeps that
    // open waiting, as a sound server that does not answer does.
    void HangOpens() {
        const std::filesystem::path fifo = folder / "fifo";
        mkfifo(fifo.c_str(), 0600);
        ReadingFrom(fifo);
    }
    void Release() {
        for (int i = 0; i < 100; ++i) {
            const int fd = open((folder / "fifo").c_str(), O_WRONLY | O_NONBLOCK);
            if (fd >= 0) {
                close(fd);
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }

private:
    void ReadingFrom(const std::filesystem::path& input) {
        Configure(
            "pcm.!default {\n  type file\n  slave.pcm { type null }\n  file \"/dev/null\"\n"
            "  infile \"" +
            input.string() + "\"\n  format \"raw\"\n}\n");
    }
    void Configure(const std::string& text) { std::ofstream(folder / "asound.conf") << text; }

    std::filesystem::path folder;
};

#endif

// The blocks a test looks at; later ones are only counted. On Linux the ramp ends after 64 blocks.
constexpr int kKeptBlocks = 40;

// What the sink was given.
struct Received {
    std::mutex lock;
    std::vector<int16_t> samples;
    std::vector<uint32_t> blockBytes;
    std::thread::id thread;
    bool oneThread = true;
    std::atomic<int> blocks{0};
};

void Take(void* context, const void* samples, uint32_t bytes) {
    auto& got = *static_cast<Received*>(context);
    const std::lock_guard<std::mutex> guard(got.lock);
    if (got.blocks == 0) got.thread = std::this_thread::get_id();
    got.oneThread = got.oneThread && got.thread == std::this_thread::get_id();
    if (got.blocks++ >= kKeptBlocks) return;
    got.blockBytes.push_back(bytes);
    const size_t at = got.samples.size();
    got.samples.resize(at + bytes / 2);
    std::memcpy(got.samples.data() + at, samples, bytes / 2 * sizeof(int16_t));
}

template <typename Done>
bool WaitUntil(Done done, int seconds = 20) {
    const Clock::time_point deadline = Clock::now() + std::chrono::seconds(seconds);
    while (!done() && Clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return done();
}

// Places where the ramp does not go on by kRampStep: sound lost or repeated.
size_t RampBreaks(const std::vector<int16_t>& samples) {
    size_t breaks = 0;
    for (size_t i = 0; i + 1 < samples.size(); ++i) {
        const auto step = static_cast<uint16_t>(static_cast<uint16_t>(samples[i + 1]) -
                                                static_cast<uint16_t>(samples[i]));
        if (step != kRampStep) ++breaks;
    }
    return breaks;
}

class SoundInputTest : public ::testing::Test {
protected:
    void SetUp() override {
        input.sink = SampleSink{&Take, &got};
        input.capturing = &capturing;
    }

    // Stops the input; the stop must return, `capturing` be cleared and the sink stay quiet.
    void StopAndCheck() {
        const Clock::time_point asked = Clock::now();
        StopSoundInput(input);
        const auto took =
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - asked);
        // Not a speed measure: a stop that waited for a hung call would never return at all.
        EXPECT_LT(took.count(), 3000);
        EXPECT_EQ(ReadWord(capturing), 0);
        const int atReturn = got.blocks;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        EXPECT_EQ(got.blocks, atReturn) << "the sink was called after the stop returned";
    }

    TestDevice device;
    StderrCapture errors;
    Received got;
    std::atomic<int32_t> capturing{0};
    SoundInput input;
};

// A line of kCaptureTexts for the "default" device, as StderrCapture gives it (no newline).
std::string Said(const char* format, const char* reason = "") {
    char line[256];
    std::snprintf(line, sizeof line, format, "default", reason);
    const std::string text(line);
    return text.substr(0, text.find('\n'));
}

const std::string kCannotOpen = Said(kCaptureTexts.cannotOpen);
const std::string kOpened = Said(kCaptureTexts.opened);

TEST_F(SoundInputTest, WholeBlocksInOrderOnOneThreadOfTheInputsOwn) {
    device.Present();
    StartSoundInput(input);
    EXPECT_EQ(ReadWord(capturing), 1);
    ASSERT_TRUE(WaitUntil([&] { return got.blocks >= kKeptBlocks; }));
    StopAndCheck();

    const std::lock_guard<std::mutex> guard(got.lock);
    EXPECT_TRUE(got.oneThread);
    EXPECT_NE(got.thread, std::this_thread::get_id());
    for (size_t i = 0; i < got.blockBytes.size(); ++i) {
        EXPECT_EQ(got.blockBytes[i], kSoundBlockBytes) << "block " << i;
    }
    EXPECT_EQ(RampBreaks(got.samples), 0u);
    EXPECT_TRUE(errors.Lines().empty());
}

TEST_F(SoundInputTest, ALateDeviceIsReportedOnceAndCapturedWhenItComes) {
    device.Missing();
    StartSoundInput(input);
    ASSERT_TRUE(WaitUntil([&] { return !errors.Lines().empty(); }));
    device.Present();
    ASSERT_TRUE(WaitUntil([&] { return got.blocks >= kKeptBlocks; }));
    StopAndCheck();

    const std::vector<std::string> lines = errors.Lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].rfind(kCannotOpen, 0), 0u) << lines[0];
    EXPECT_GT(lines[0].size(), kCannotOpen.size()) << "no reason given";
    EXPECT_EQ(lines[1], kOpened);
    const std::lock_guard<std::mutex> guard(got.lock);
    EXPECT_EQ(RampBreaks(got.samples), 0u);
}

TEST_F(SoundInputTest, StopReturnsInEveryStateAndTheSinkStaysQuietAfterIt) {
    struct Case {
        const char* what;
        void (TestDevice::*setUp)();
        int runMs;  // how long the input runs before the stop
    };
    // The hanging open comes last: the device it opens once released is closed again at once.
    const Case cases[] = {
        {"right after the start", &TestDevice::Present, 0},
        {"while capturing", &TestDevice::Present, 50},
        {"while the device is missing", &TestDevice::Missing, 50},
        {"while an open hangs in the sound system", &TestDevice::HangOpens, 300},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        (device.*c.setUp)();
        StartSoundInput(input);
        std::this_thread::sleep_for(std::chrono::milliseconds(c.runMs));
        StopAndCheck();
    }
    const int blocks = got.blocks;
    device.Release();
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(got.blocks, blocks) << "an open that ended after the stop reached the sink";
}

}  // namespace
