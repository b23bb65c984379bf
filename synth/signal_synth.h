// Signal synthesizer: the PCM serial signal that Vorlank decodes (common/signal_format.h) as 16-bit
// samples, for tests, end-to-end runs and demos. It is the decoder's inverse written on its own
// (its own code table and cell assembly) so that a round trip checks one against the other.
// Pure computation, no shared state: the same config always yields the same samples.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "common/signal_format.h"

namespace synth {

// Cells of level 1 after the last frame: the change of level that ends its final run, without
// which a receiver never sees that run finish. Long enough to be a run, far short of a sync.
inline constexpr int32_t kClosingCells = 4;

// Limits that keep a signal decodable and its size sane (about 45 minutes of frames).
inline constexpr int32_t kMaxFrames = 100000;
inline constexpr int32_t kMinGapCells = 2;
// A frame can end on 8 zero cells (the word of symbol 55), which the gap lengthens. Kept at 15 or
// fewer, that run stays clear of the 18 cells of a sync even at a few percent of bit-rate error,
// so a receiver that lost a frame cannot take it for one and miss the real sync.
inline constexpr int32_t kMaxGapCells = 7;
inline constexpr double kMinCellLength = 3.0;
inline constexpr double kMaxCellLength = 100.0;

enum class FrameKind : uint8_t { A, B };

// One frame before it becomes cells. Kind A uses slots 0..14, kind B slots 16..31.
struct Frame {
    FrameKind kind = FrameKind::A;
    // symbols 0..63, or -1 for a word outside the code
    std::array<int32_t, common::kSlotCount> slots{};
};

// Writes pos1 (0..1023) into slots 17 and 18, keeping slot 18's two low bits as they are.
void SetPos1(Frame& frame, int32_t pos1);

// Appends one frame's cells (gap, sync, header, spare bits, words), one byte 0/1 per cell. The gap
// before every sync makes the sync a run of exactly 18 cells whatever the previous frame ended on.
void AppendFrameCells(std::vector<uint8_t>& cells, const Frame& frame, int32_t gapCells);

// Cells in one frame of `kind`, gap included.
int32_t FrameCells(FrameKind kind, int32_t gapCells);

// What to synthesize. Every field must lie in the range noted above it.
struct SynthConfig {
    // 0..kMaxFrames
    int32_t frameCount = 10;
    // Kinds of the successive frames, repeated cyclically; not empty.
    std::vector<FrameKind> kinds{FrameKind::A, FrameKind::B};
    // Pos1 of every kind-B frame, or the sweep's start; 0..1023
    int32_t pos1 = 512;
    // Pos1 runs 0 -> 1023 -> 0 ... (a triangle), one step per kind-B frame.
    bool sweep = false;
    // 1..1023
    int32_t sweepStep = 1;
    // 0-cells before each sync and before the closing mark; kMinGapCells..kMaxGapCells
    int32_t gapCells = 4;
    // samples per cell, kMinCellLength..kMaxCellLength
    double cellLength = common::kSamplesPerCell;
    // peak of the clean signal, 0..32767
    double amplitude = 10000.0;
    // DC offset added to every sample, -32768..32767
    double offset = 0.0;
    // standard deviation of the added Gaussian noise, 0..32767
    double noise = 0.0;
    // 1-bits (the sync's level) negative instead of positive
    bool invert = false;
    // first-order low-pass time constant in samples, 0..10000; 0 = sharp edges
    double lowPass = 0.0;
    // Every code word outside the code: syncs and headers are right, but each frame fails at its
    // first word, and no frame carries Pos1.
    bool badWords = false;
    // samples of silence (offset and noise only) before the first cell, 0..3600 s worth
    int32_t silenceBefore = 0;
    // samples of silence after the last cell, 0..3600 s worth
    int32_t silenceAfter = 0;
    // Seeds the payload symbols and, on a stream of its own, the noise.
    uint64_t seed = 1;
};

struct SynthSummary {
    int32_t framesA = 0;
    int32_t framesB = 0;
    // the Pos1 of every kind-B frame, in order (none with badWords)
    std::vector<int32_t> pos1Values;
    // silence included
    int64_t sampleCount = 0;
};

// Pos1 of the kind-B frame number `index` (0-based) under `config`.
int32_t Pos1ForFrame(const SynthConfig& config, int32_t index);

// The frames of `config`, in order, with the symbol of every slot (used by the frame's kind or
// not); fills the frame counts and Pos1 values of `summary`.
std::vector<Frame> BuildFrames(const SynthConfig& config, SynthSummary& summary);

// The whole cell stream of `config` (frames, then gap and closing mark); fills the frame counts
// and Pos1 values of `summary`.
std::vector<uint8_t> BuildCells(const SynthConfig& config, SynthSummary& summary);

// First sample of cell k, counted from the first cell: round(k * cellLength), so that edges never
// drift however long the signal.
int64_t CellEdge(int64_t k, double cellLength);

// Samples of `cells` with the rendering fields of `config`: levels, low-pass, then offset and
// noise, rounded and clipped to int16; silence included.
std::vector<int16_t> RenderCells(const std::vector<uint8_t>& cells, const SynthConfig& config);

struct SynthResult {
    std::vector<int16_t> samples;
    SynthSummary summary;
};

// BuildCells then RenderCells.
SynthResult Synthesize(const SynthConfig& config);

// How many frames of `config`'s kind pattern fit, with the closing cells, in `seconds` of signal
// (silence not counted).
int32_t FramesForDuration(const SynthConfig& config, double seconds);

}  // namespace synth
