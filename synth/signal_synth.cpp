#include "synth/signal_synth.h"

#include <algorithm>
#include <cmath>

#include "decode/symbol_code.h"
#include "synth/noise_source.h"

namespace synth {

namespace {

// The word sent for a symbol of -1: the only word outside the code that, like every word in it,
// starts with a 1, ends with a 0 and has no run of one cell. Its runs (8, 2) never add up to a
// sync's 18 cells with the header or the gap beside them.
constexpr uint16_t kOutsideWord = 0b1111111100;

static_assert(decode::LookupSymbol(kOutsideWord) < 0,
              "the word of a bad symbol must lie outside the code");

// The two bits after a kind-B header carry nothing. Sent as 0s they lengthen the header's run of
// zeros instead of making a one-cell pulse.
constexpr uint32_t kSpareBits = 0b00;

// Pos1 sweeps as a triangle: positions 0..2045 of a cycle map to 0..1023..1.
constexpr int64_t kSweepCycle = int64_t{2} * common::kPos1Max;

// Noise and payload come from separate streams ("noise" in ASCII sets them apart) so that adding
// noise never changes the symbols.
constexpr uint64_t kNoiseStreamTweak = 0x6E6F697365ull;

void AppendBits(std::vector<uint8_t>& cells, uint32_t value, int32_t bits) {
    for (int32_t b = bits - 1; b >= 0; --b)
        cells.push_back(static_cast<uint8_t>((value >> b) & 1u));
}

void AppendLevel(std::vector<uint8_t>& cells, uint8_t bit, int32_t count) {
    cells.insert(cells.end(), static_cast<size_t>(count), bit);
}

FrameKind KindOfFrame(const SynthConfig& config, int32_t index) {
    return config.kinds[static_cast<size_t>(index) % config.kinds.size()];
}

}  // namespace

void SetPos1(Frame& frame, int32_t pos1) {
    frame.slots[common::kPos1HighSlot] = (pos1 >> 4) & 63;
    frame.slots[common::kPos1LowSlot] =
        ((pos1 & 15) << 2) | (frame.slots[common::kPos1LowSlot] & 3);
}

int32_t FrameCells(FrameKind kind, int32_t gapCells) {
    const int32_t body = kind == FrameKind::A
                             ? common::kHeaderBits + common::kWordsKindA * common::kCodeWordBits
                             : common::kHeaderBits + common::kSpareBitsKindB +
                                   common::kWordsKindB * common::kCodeWordBits;
    return gapCells + common::kSyncCells + body;
}

void AppendFrameCells(std::vector<uint8_t>& cells, const Frame& frame, int32_t gapCells) {
    AppendLevel(cells, 0, gapCells);
    AppendLevel(cells, 1, common::kSyncCells);
    int32_t firstSlot = common::kFirstSlotKindA;
    int32_t words = common::kWordsKindA;
    if (frame.kind == FrameKind::A) {
        AppendBits(cells, common::kHeaderKindA, common::kHeaderBits);
    } else {
        AppendBits(cells, common::kHeaderKindB, common::kHeaderBits);
        AppendBits(cells, kSpareBits, common::kSpareBitsKindB);
        firstSlot = common::kFirstSlotKindB;
        words = common::kWordsKindB;
    }
    for (int32_t slot = firstSlot; slot < firstSlot + words; ++slot) {
        const int32_t symbol = frame.slots[slot];
        AppendBits(cells,
                   symbol < 0 ? kOutsideWord : decode::kCodeWords[static_cast<size_t>(symbol)],
                   common::kCodeWordBits);
    }
}

int32_t Pos1ForFrame(const SynthConfig& config, int32_t index) {
    if (!config.sweep) return config.pos1;
    const int64_t p = (config.pos1 + int64_t{index} * config.sweepStep) % kSweepCycle;
    return static_cast<int32_t>(p <= common::kPos1Max ? p : kSweepCycle - p);
}

std::vector<Frame> BuildFrames(const SynthConfig& config, SynthSummary& summary) {
    NoiseSource payload;
    SeedNoise(payload, config.seed);
    std::vector<Frame> frames(static_cast<size_t>(config.frameCount));
    summary = SynthSummary{};
    for (int32_t f = 0; f < config.frameCount; ++f) {
        Frame& frame = frames[static_cast<size_t>(f)];
        frame.kind = KindOfFrame(config, f);
        // Every slot is drawn, used or not, so a frame's payload does not depend on its kind.
        for (int32_t& symbol : frame.slots) symbol = static_cast<int32_t>(NextBelow(payload, 64));
        if (config.badWords) {
            frame.slots.fill(-1);
        } else if (frame.kind == FrameKind::B) {
            const int32_t pos1 = Pos1ForFrame(config, summary.framesB);
            SetPos1(frame, pos1);
            summary.pos1Values.push_back(pos1);
        }
        ++(frame.kind == FrameKind::A ? summary.framesA : summary.framesB);
    }
    return frames;
}

std::vector<uint8_t> BuildCells(const SynthConfig& config, SynthSummary& summary) {
    std::vector<uint8_t> cells;
    cells.reserve(static_cast<size_t>(config.frameCount) *
                      FrameCells(FrameKind::B, config.gapCells) +
                  config.gapCells + kClosingCells);
    for (const Frame& frame : BuildFrames(config, summary))
        AppendFrameCells(cells, frame, config.gapCells);
    AppendLevel(cells, 0, config.gapCells);
    AppendLevel(cells, 1, kClosingCells);
    return cells;
}

int64_t CellEdge(int64_t k, double cellLength) {
    return static_cast<int64_t>(std::floor(static_cast<double>(k) * cellLength + 0.5));
}

std::vector<int16_t> RenderCells(const std::vector<uint8_t>& cells, const SynthConfig& config) {
    const auto cellCount = static_cast<int64_t>(cells.size());
    const int64_t total =
        config.silenceBefore + CellEdge(cellCount, config.cellLength) + config.silenceAfter;
    std::vector<int16_t> out;
    out.reserve(static_cast<size_t>(total));

    NoiseSource noise;
    SeedNoise(noise, config.seed ^ kNoiseStreamTweak);
    const double high = config.invert ? -config.amplitude : config.amplitude;
    // Exact discretisation of an RC low-pass driven by a level held over each sample.
    const bool filtered = config.lowPass > 0.0;
    const double alpha = filtered ? 1.0 - std::exp(-1.0 / config.lowPass) : 1.0;
    double y = 0.0;

    auto emit = [&](double ideal, int64_t count) {
        for (int64_t i = 0; i < count; ++i) {
            y = filtered ? y + alpha * (ideal - y) : ideal;
            double v = y + config.offset;
            if (config.noise > 0.0) v += config.noise * NextGaussian(noise);
            out.push_back(static_cast<int16_t>(std::clamp(std::floor(v + 0.5), -32768.0, 32767.0)));
        }
    };

    emit(0.0, config.silenceBefore);
    for (int64_t k = 0; k < cellCount; ++k) {
        const int64_t length = CellEdge(k + 1, config.cellLength) - CellEdge(k, config.cellLength);
        emit(cells[static_cast<size_t>(k)] != 0 ? high : -high, length);
    }
    emit(0.0, config.silenceAfter);
    return out;
}

SynthResult Synthesize(const SynthConfig& config) {
    SynthResult result;
    const std::vector<uint8_t> cells = BuildCells(config, result.summary);
    result.samples = RenderCells(cells, config);
    result.summary.sampleCount = static_cast<int64_t>(result.samples.size());
    return result;
}

int32_t FramesForDuration(const SynthConfig& config, double seconds) {
    const double budget = seconds * common::kSampleRateHz;
    int64_t cells = config.gapCells + kClosingCells;
    int32_t frames = 0;
    while (frames < kMaxFrames) {
        const int64_t next = cells + FrameCells(KindOfFrame(config, frames), config.gapCells);
        if (static_cast<double>(CellEdge(next, config.cellLength)) > budget) break;
        cells = next;
        ++frames;
    }
    return frames;
}

}  // namespace synth
