// The capture stream against a fake wave-input device: what it opens and queues, what each
// completion slices and hands back, and that Stop takes every buffer back before freeing it.
#include "capture/capture_stream.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <thread>
#include <vector>

#include "capture/wave_in_fake.h"

using namespace wave;

namespace {

std::vector<int16_t> Silence() {
    return std::vector<int16_t>(CaptureBufferBytes / 2, 0);
}

// A square wave of `halfPeriod` samples per level, starting High, continued across buffers by
// `phase` (samples already produced).
std::vector<int16_t> Square(int halfPeriod, int& phase) {
    std::vector<int16_t> samples(CaptureBufferBytes / 2);
    for (int16_t& s : samples) s = ((phase++ / halfPeriod) % 2 == 0) ? 1000 : -1000;
    return samples;
}

class CaptureStreamTest : public ::testing::Test {
protected:
    void SetUp() override {
        InstallFake(fake);
        slicer.out = RunConsumers{Mode::Test, &decoder, nullptr, &status};
        stream.slicer = &slicer;
        stream.status = &status;
    }

    void TearDown() override {
        if (stream.handle != HWAVEIN{}) Stop(stream);
    }

    // Calls of one kind, in order.
    std::vector<FakeCallRecord> CallsOf(FakeCall kind) const {
        std::vector<FakeCallRecord> out;
        std::copy_if(fake.calls.begin(), fake.calls.end(), std::back_inserter(out),
                     [kind](const FakeCallRecord& r) { return r.call == kind; });
        return out;
    }

    // Position of the first or last call of a kind; -1 when there is none.
    std::ptrdiff_t First(FakeCall kind) const {
        auto it = std::find_if(fake.calls.begin(), fake.calls.end(),
                               [kind](const FakeCallRecord& r) { return r.call == kind; });
        return it == fake.calls.end() ? -1 : it - fake.calls.begin();
    }
    std::ptrdiff_t Last(FakeCall kind) const {
        auto it = std::find_if(fake.calls.rbegin(), fake.calls.rend(),
                               [kind](const FakeCallRecord& r) { return r.call == kind; });
        return it == fake.calls.rend() ? -1 : fake.calls.rend() - it - 1;
    }

    FakeWaveIn fake;
    SharedStatus status;
    FrameDecoder decoder;
    RunSlicer slicer;
    CaptureStream stream;
};

TEST_F(CaptureStreamTest, StartOpensTheDefaultDeviceForMono16BitAt44100AndQueuesBothBuffers) {
    Start(stream);
    EXPECT_EQ(Load(status.capturing), 1);

    const WAVEFORMATEX& f = fake.openedFormat;
    EXPECT_EQ(f.wFormatTag, WAVE_FORMAT_PCM);
    EXPECT_EQ(f.nChannels, 1);
    EXPECT_EQ(f.nSamplesPerSec, 44100u);
    EXPECT_EQ(f.nAvgBytesPerSec, 88200u);
    EXPECT_EQ(f.nBlockAlign, 2);
    EXPECT_EQ(f.wBitsPerSample, 16);
    EXPECT_EQ(f.cbSize, 0);
    EXPECT_EQ(fake.openFlags, CALLBACK_FUNCTION);

    const std::vector<std::pair<FakeCall, WAVEHDR*>> expected = {
        {FakeCall::Open, nullptr},
        {FakeCall::Prepare, stream.buffers[0]},
        {FakeCall::AddBuffer, stream.buffers[0]},
        {FakeCall::Prepare, stream.buffers[1]},
        {FakeCall::AddBuffer, stream.buffers[1]},
        {FakeCall::Start, nullptr},
    };
    ASSERT_EQ(fake.calls.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(fake.calls[i].call, expected[i].first) << "call " << i;
        EXPECT_EQ(fake.calls[i].header, expected[i].second) << "call " << i;
        EXPECT_EQ(fake.calls[i].result, MMSYSERR_NOERROR) << "call " << i;
    }
    for (DWORD_PTR i = 0; i < 2; ++i) {
        ASSERT_NE(stream.buffers[i], nullptr);
        EXPECT_EQ(stream.buffers[i]->dwBufferLength, 1024u);
        EXPECT_EQ(stream.buffers[i]->dwUser, i);
        EXPECT_NE(stream.buffers[i]->lpData, nullptr);
    }
}

TEST_F(CaptureStreamTest, MessagesOtherThanDataChangeNothingAndQueueNothing) {
    Start(stream);
    const size_t queuedBefore = CallsOf(FakeCall::AddBuffer).size();
    for (UINT message : {WIM_OPEN, WIM_CLOSE, UINT{0x3BD}, UINT{0}}) {
        DeliverMessage(fake, message);
    }
    EXPECT_EQ(CallsOf(FakeCall::AddBuffer).size(), queuedBefore);
    EXPECT_EQ(slicer.upper, 0.0);
    EXPECT_EQ(slicer.lower, 0.0);
    EXPECT_EQ(slicer.lowRun, 0);
    EXPECT_EQ(slicer.highRun, 0);
}

// Digital silence is one open Low run, so the slicer's lowRun counts exactly the samples it saw.
TEST_F(CaptureStreamTest, EachCompletionSlicesItsRecordedSamplesAndQueuesTheBufferAgain) {
    struct Case {
        uint32_t bytesRecorded;
        int32_t samplesSliced;
    };
    const Case cases[] = {
        {1024, 512}, {0, 0},      {1023, 511},  // an odd trailing byte is no sample
        {2, 1},      {4096, 512},  // a device claiming more than the buffer holds is held to the
                                   // buffer
    };
    Start(stream);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bytesRecorded);
        const int32_t before = slicer.lowRun;
        const size_t queuedBefore = CallsOf(FakeCall::AddBuffer).size();
        ASSERT_TRUE(DeliverData(fake, c.bytesRecorded, Silence()));
        EXPECT_EQ(slicer.lowRun - before, c.samplesSliced);

        const auto queued = CallsOf(FakeCall::AddBuffer);
        ASSERT_EQ(queued.size(), queuedBefore + 1);
        const auto completions = CallsOf(FakeCall::Completion);
        EXPECT_EQ(queued.back().header, completions.back().header);
        EXPECT_TRUE(queued.back().fromCompletion);
        EXPECT_EQ(queued.back().result, MMSYSERR_NOERROR);
    }
}

TEST_F(CaptureStreamTest, BuffersRotateInQueueOrderAndRunsCrossBufferBoundaries) {
    RunLog log;
    std::vector<int32_t> entries(400, -1);
    log.capacity = static_cast<int32_t>(entries.size());
    log.entries = entries.data();
    slicer.out = RunConsumers{Mode::Log, nullptr, &log, &status};

    // 7 samples per level does not divide 512, so runs straddle every buffer boundary.
    const int halfPeriod = 7;
    const int buffers = 5;
    int phase = 0;
    Start(stream);
    for (int i = 0; i < buffers; ++i)
        ASSERT_TRUE(DeliverData(fake, 1024, Square(halfPeriod, phase)));

    const auto completions = CallsOf(FakeCall::Completion);
    ASSERT_EQ(completions.size(), static_cast<size_t>(buffers));
    for (int i = 0; i < buffers; ++i) EXPECT_EQ(completions[i].header, stream.buffers[i % 2]) << i;

    // The first run (High) is never logged and the last one is still open.
    const int runs = buffers * 512 / halfPeriod;  // complete half periods
    ASSERT_EQ(Load(log.count), runs - 1);
    for (int i = 0; i < Load(log.count); ++i) EXPECT_EQ(entries[i], halfPeriod) << "entry " << i;
    EXPECT_EQ(Load(status.stopRequested), 0);
}

TEST_F(CaptureStreamTest, OnceCapturingIsClearedACompletingBufferIsSlicedButKept) {
    Start(stream);
    ASSERT_TRUE(DeliverData(fake, 1024, Silence()));
    Store(status.capturing, 0);
    const size_t queuedBefore = CallsOf(FakeCall::AddBuffer).size();

    ASSERT_TRUE(DeliverData(fake, 1024, Silence()));
    EXPECT_EQ(slicer.lowRun, 1024);
    EXPECT_EQ(CallsOf(FakeCall::AddBuffer).size(), queuedBefore);
}

// The fake completes every buffer late, as a driver does from its own thread, also those that
// reset gives back: Stop must wait for them rather than free a buffer the device still holds.
TEST_F(CaptureStreamTest, StopTakesBothBuffersBackBeforeReleasingThemThenCloses) {
    fake.completionDelayMs = 50;
    Start(stream);
    ASSERT_TRUE(DeliverData(fake, 1024, Silence()));
    ASSERT_TRUE(DeliverData(fake, 1024, Silence()));
    WAVEHDR* const first = stream.buffers[0];
    WAVEHDR* const second = stream.buffers[1];
    Stop(stream);

    EXPECT_EQ(Load(status.capturing), 0);
    EXPECT_EQ(stream.buffersOut.load(), 0);
    EXPECT_EQ(stream.buffers[0], nullptr);
    EXPECT_EQ(stream.buffers[1], nullptr);

    const auto unprepared = CallsOf(FakeCall::Unprepare);
    ASSERT_EQ(unprepared.size(), 2u);
    EXPECT_EQ(unprepared[0].header, first);
    EXPECT_EQ(unprepared[1].header, second);
    for (const FakeCallRecord& r : unprepared) {
        EXPECT_FALSE(r.headerInUse);
        EXPECT_EQ(r.result, MMSYSERR_NOERROR);
    }
    // Stopped, reset, every completion over (two delivered, two given back), then released, then
    // closed holding nothing; nothing queued once stopping began.
    EXPECT_LT(First(FakeCall::Stop), First(FakeCall::Reset));
    EXPECT_EQ(CallsOf(FakeCall::CompletionEnd).size(), 4u);
    EXPECT_LT(Last(FakeCall::CompletionEnd), First(FakeCall::Unprepare));
    EXPECT_LT(Last(FakeCall::AddBuffer), First(FakeCall::Stop));
    EXPECT_EQ(Last(FakeCall::Close), static_cast<std::ptrdiff_t>(fake.calls.size()) - 1);
    EXPECT_FALSE(fake.calls.back().headerInUse);
}

// A completion the device has already started when Stop begins: it runs after `capturing` was
// cleared, so it slices its buffer without queueing it again, and it is over before Stop returns.
TEST_F(CaptureStreamTest, ACompletionUnderWayWhenStopBeginsIsSlicedKeptAndOverBeforeStopReturns) {
    fake.completionDelayMs = 300;
    Start(stream);
    std::thread device([&] { EXPECT_TRUE(DeliverData(fake, 1024, Silence())); });
    WaitForCompletionUnderWay(fake);
    Stop(stream);
    const size_t callsAtReturn = fake.calls.size();
    device.join();

    EXPECT_EQ(slicer.lowRun, 512);
    EXPECT_EQ(fake.calls.size(), callsAtReturn);
    EXPECT_LT(Last(FakeCall::CompletionEnd), First(FakeCall::Unprepare));
    EXPECT_LT(Last(FakeCall::AddBuffer), First(FakeCall::Completion));
    for (const FakeCallRecord& r : CallsOf(FakeCall::Unprepare)) EXPECT_FALSE(r.headerInUse);
    EXPECT_EQ(stream.buffers[0], nullptr);
    EXPECT_EQ(stream.buffers[1], nullptr);
}

TEST_F(CaptureStreamTest, ADeviceThatCannotBeOpenedLeavesTheCountersAtZeroAndStillStops) {
    fake.openResult = MMSYSERR_BADDEVICEID;
    Start(stream);
    EXPECT_EQ(Load(status.capturing), 1);
    EXPECT_FALSE(DeliverData(fake, 1024, Silence()));
    Stop(stream);

    ASSERT_EQ(fake.calls.size(), 1u);  // nothing is asked of a device that is not there
    EXPECT_EQ(fake.calls[0].call, FakeCall::Open);
    EXPECT_EQ(stream.buffers[0], nullptr);
    EXPECT_EQ(stream.buffers[1], nullptr);
    EXPECT_EQ(Load(status.pcmFrames), 0);
    EXPECT_EQ(Load(status.pcmErrors), 0);
    EXPECT_EQ(Load(status.pos1), 0);
}

// A broken device that never gives its buffers back on reset: Stop gives up waiting, leaves the
// buffers allocated rather than freeing them under the device, and still closes it.
TEST_F(CaptureStreamTest, BuffersTheDeviceKeepsAreNeverFreedUnderIt) {
    fake.holdBuffersOnReset = true;
    Start(stream);
    WAVEHDR* const kept[2] = {stream.buffers[0], stream.buffers[1]};
    Stop(stream);

    EXPECT_TRUE(CallsOf(FakeCall::Unprepare).empty());
    EXPECT_EQ(stream.buffers[0], kept[0]);
    EXPECT_EQ(stream.buffers[1], kept[1]);
    EXPECT_EQ(stream.handle, HWAVEIN{});
    // Closing gave them back, so they are ours to free now.
    EXPECT_EQ(stream.buffersOut.load(), 0);
    for (WAVEHDR* header : kept) {
        std::free(header->lpData);
        std::free(header);
    }
}

}  // namespace
