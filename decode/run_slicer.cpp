#include "decode/run_slicer.h"

#include <cstdint>
#include <limits>

namespace {

// Envelope decay per sample: fast enough to follow a fading signal within a fraction of a second,
// slow enough that a 16-bit signal's peaks hold the envelopes over many bit cells.
constexpr double kEnvelopeStep = 0.1;
// Gap set between the envelopes when they cross, so that a constant input keeps one side.
constexpr double kCrossedGap = 1.0;

constexpr int32_t kMaxRun = std::numeric_limits<int32_t>::max();

void DeliverRun(const RunConsumers& out, Run run) {
    switch (out.mode) {
        case Mode::Test:
            DecodeRun(*out.decoder, *out.status, run.length);
            break;
        case Mode::Log:
            AppendRun(*out.runLog, *out.status, run);
            break;
    }
}

}  // namespace

void AppendRun(RunLog& log, SharedStatus& status, Run run) {
    const int32_t count = Load(log.count);
    if (count >= log.capacity) {
        Store(status.stopRequested, 1);
        return;
    }
    // The log starts with a Low run so that its entries alternate Low, High from entry 0.
    if (run.level == RunLevel::High && count == 0) return;
    log.entries[count] = run.length;
    // Release: the journal writer on the main thread reads the entries below the count it loads.
    Publish(log.count, count + 1);
}

void SliceBuffer(RunSlicer& slicer, const void* data, uint32_t bytesRecorded) {
    const auto* bytes = static_cast<const uint8_t*>(data);
    const size_t samples = bytesRecorded / 2;
    // Work on locals so the compiler keeps the state in registers through the loop.
    double upper = slicer.upper;
    double lower = slicer.lower;
    int32_t highRun = slicer.highRun;
    int32_t lowRun = slicer.lowRun;
    for (size_t i = 0; i < samples; ++i) {
        const auto raw = static_cast<uint16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
        const double s = static_cast<int16_t>(raw);
        upper = upper - kEnvelopeStep;
        lower = lower + kEnvelopeStep;
        if (upper < lower) upper = lower + kCrossedGap;
        if (s > upper) {
            upper = s;
        } else if (s < lower) {
            lower = s;
        }
        const double threshold = (lower + upper) * 0.5;
        if (s > threshold) {
            highRun += static_cast<int32_t>(highRun != kMaxRun);
            if (lowRun != 0) {
                DeliverRun(slicer.out, Run{lowRun, RunLevel::Low});
                lowRun = 0;
            }
        } else {
            lowRun += static_cast<int32_t>(lowRun != kMaxRun);
            if (highRun != 0) {
                DeliverRun(slicer.out, Run{highRun, RunLevel::High});
                highRun = 0;
            }
        }
    }
    slicer.upper = upper;
    slicer.lower = lower;
    slicer.highRun = highRun;
    slicer.lowRun = lowRun;
}
