// Signal synthesizer: builds the PCM serial signal that Vorlank decodes, as 16-bit mono samples
// at 44 100 Hz, for tests, end-to-end runs and demos. It is the decoder's inverse, written on its
// own (its own code table, its own assembly of cells; only the layout's numbers are shared, from
// common/signal_format.h) so that a round trip checks one against the other.
//
// Signal, in bit cells (one cell = `cellLength` samples, 6.623 nominal):
//
//   per frame:  gap (gapCells x 0) | sync (18 x 1) | header (6) | [kind B: 2 spare bits] | words
//   kind A:     header 000011, 15 code words for slots 0..14
//   kind B:     header 000000, spare bits 00, 16 code words for slots 16..31
//   after the last frame:  gap (gapCells x 0) | closing mark (kClosingCells x 1)
//
// Bit 1 is the level of the sync run, bit 0 the opposite level: the receiver gives the run after
// the sync 0-bits and alternates from there, so the header, which starts with 0, must begin on
// the other level. The gap before every sync makes the sync its own run of exactly 18 cells even
// when the previous frame ended on 1-bits or the signal starts out of silence. The closing mark
// ends the last frame's final run with a change of level, without which a receiver never sees
// that run finish.
//
// Pos1 (0..1023) travels in slots 17 and 18 of kind B: sym[17] = pos1 >> 4 and the upper four bits
// of sym[18] = pos1 & 15; the receiver drops sym[18]'s lowest two bits. All other slots and those
// two bits carry payload drawn from the seed.
//
// Rendering: cell k starts at sample round(k * cellLength) counted from the first cell, so edges
// never drift however long the signal; levels are +-amplitude (1-bits positive unless inverted),
// then an optional first-order low-pass, then DC offset and Gaussian noise, rounded and clipped to
// int16. Silence (offset and noise only) may precede and follow.
//
// Pure computation; no shared state. The same config always yields the same samples.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "common/signal_format.h"

namespace synth {

// Long enough to be a clear run, short of anything a receiver could take for a sync.
inline constexpr int32_t kClosingCells = 4;

enum class FrameKind : uint8_t { A, B };

// The 10-bit code word of `symbol` (0..63), first-sent bit as bit 9.
uint16_t CodeWordOf(int32_t symbol);

// All 64 code words, indexed by symbol.
const std::array<uint16_t, 64>& CodeWords();

// One frame before it becomes cells. Kind A uses slots 0..14, kind B slots 16..31.
struct Frame {
    FrameKind kind = FrameKind::A;
    std::array<int32_t, kSlotCount> slots{};  // symbols 0..63
};

// Writes pos1 (0..1023) into slots 17 and 18, keeping slot 18's two low bits as they are.
void SetPos1(Frame& frame, int32_t pos1);

// Appends one frame's cells (gap, sync, header, spare bits, words), one byte 0/1 per cell.
void AppendFrameCells(std::vector<uint8_t>& cells, const Frame& frame, int32_t gapCells);

// Appends the gap and closing mark that end a signal.
void AppendClosingCells(std::vector<uint8_t>& cells, int32_t gapCells);

// Cells in one frame of `kind`, gap included.
int32_t FrameCells(FrameKind kind, int32_t gapCells);

struct SynthConfig {
    // Content
    int32_t frameCount = 10;                                   // 0 .. kMaxFrames
    std::vector<FrameKind> kinds{FrameKind::A, FrameKind::B};  // repeated cyclically, not empty
    int32_t pos1 = 512;     // Pos1 of every kind-B frame, or the sweep's start; 0..1023
    bool sweep = false;     // Pos1 runs 0 -> 1023 -> 0 ... (triangle), one step per kind-B frame
    int32_t sweepStep = 1;  // 1..1023
    int32_t gapCells = 4;   // 0-cells before each sync; kMinGapCells..kMaxGapCells
    // Rendering
    double cellLength = kSamplesPerCell;  // samples per cell, kMinCellLength..kMaxCellLength
    double amplitude = 10000.0;           // peak of the clean signal, 0..32767
    double offset = 0.0;                  // DC offset added to every sample, -32768..32767
    double noise = 0.0;                   // standard deviation of the added Gaussian noise, >= 0
    bool invert = false;                  // 1-bits negative instead of positive
    double lowPass = 0.0;                 // low-pass time constant in samples; 0 = sharp edges
    int32_t silenceBefore = 0;            // samples of silence before the first cell
    int32_t silenceAfter = 0;             // samples of silence after the last cell
    uint64_t seed = 1;                    // payload and noise
};

// Limits that keep a signal decodable and its size sane (about 45 minutes of frames).
inline constexpr int32_t kMaxFrames = 100000;
inline constexpr int32_t kMinGapCells = 2;
// A frame can end on 8 zero cells (the word of symbol 55), which the gap lengthens. Kept at 15 or
// fewer, that run stays clear of the 18 cells of a sync even at a few percent of bit-rate error,
// so a receiver that lost a frame cannot take it for one and miss the real sync.
inline constexpr int32_t kMaxGapCells = 7;
inline constexpr double kMinCellLength = 3.0;
inline constexpr double kMaxCellLength = 100.0;

struct SynthSummary {
    int32_t framesA = 0;
    int32_t framesB = 0;
    std::vector<int32_t> pos1Values;  // the Pos1 of every kind-B frame, in order
    int64_t cellCount = 0;
    int64_t sampleCount = 0;  // silence included
};

// Checks a config against the limits above; returns an empty string if it is usable, otherwise
// a message naming the offending field.
std::string CheckConfig(const SynthConfig& config);

// Pos1 of the kind-B frame number `index` (0-based) under `config`.
int32_t Pos1ForFrame(const SynthConfig& config, int32_t index);

// The frames of `config`, in order, with the symbol of every slot (used by the frame's kind or
// not); fills the frame counts and Pos1 values of `summary`. `config` must pass CheckConfig.
std::vector<Frame> BuildFrames(const SynthConfig& config, SynthSummary& summary);

// The whole cell stream of `config` (frames, then gap and closing mark); fills the content part of
// `summary` (frames, Pos1 values, cell count). `config` must pass CheckConfig.
std::vector<uint8_t> BuildCells(const SynthConfig& config, SynthSummary& summary);

// First sample of cell k, counted from the first cell: round(k * cellLength).
int64_t CellEdge(int64_t k, double cellLength);

// Samples of `cells` rendered with the rendering fields of `config`, silence included.
std::vector<int16_t> RenderCells(const std::vector<uint8_t>& cells, const SynthConfig& config);

struct SynthResult {
    std::vector<int16_t> samples;
    SynthSummary summary;
};

// BuildCells then RenderCells. `config` must pass CheckConfig.
SynthResult Synthesize(const SynthConfig& config);

// How many frames of `config`'s kind pattern fit, with the closing cells, in `seconds` of signal
// (silence not counted).
int32_t FramesForDuration(const SynthConfig& config, double seconds);

}  // namespace synth
