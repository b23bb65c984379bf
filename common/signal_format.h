// The signal Vorlank receives, as numbers: its sampling, its bit cells and its frame layout, each
// written down here once for every part that needs it (capture, decoder, synthesizer, analyzer,
// benchmarks, tests). Pure constants; safe from any thread.
#pragma once

#include <cstdint>

namespace common {

// Samples per second of the one channel of signed 16-bit little-endian samples.
inline constexpr int32_t kSampleRateHz = 44100;

// Samples per bit cell (a cell lasts about 150.2 us); runs are rounded to whole cells.
inline constexpr double kSamplesPerCell = 6.623;
// Cells per sample, 1 / kSamplesPerCell to the last bit: run lengths are multiplied by it, and its
// exact value fixes the lengths at which rounding to cells steps up (116 samples: 18 cells).
inline constexpr double kCellsPerSample = 0.15098897780462026;
static_assert(kCellsPerSample == 1.0 / kSamplesPerCell, "cell length and its inverse disagree");

// Frame layout, in cells, first-received bit leftmost:
//
//   kind A:  sync (18) | header 000011 (6) | 15 code words (10 each) -> slots 0..14
//   kind B:  sync (18) | header 000000 (6) | 2 spare bits | 16 code words -> slots 16..31
//
// The run after the sync carries 0-bits, the next one 1-bits and so on, whatever level the slicer
// saw. Each 10-bit code word carries a 6-bit symbol (decode/symbol_code.h). Pos1, the 10-bit
// position, is the symbol of slot 17 above the upper 4 bits of the symbol of slot 18:
//
//   pos1 = [ sym[17] bits 5..0 | sym[18] bits 5..2 ]

// A run of exactly this many cells, while no frame is being read, starts one.
inline constexpr int32_t kSyncCells = 18;
// The headers of the two kinds, 6 bits read first-received bit most significant.
inline constexpr int32_t kHeaderBits = 6;
inline constexpr uint32_t kHeaderKindA = 0b000011;
inline constexpr uint32_t kHeaderKindB = 0b000000;
// Bits between kind B's header and its first code word; they carry nothing.
inline constexpr int32_t kSpareBitsKindB = 2;
inline constexpr int32_t kCodeWordBits = 10;
inline constexpr int32_t kSymbolBits = 6;

// Symbol slots of a frame; kind A fills 0..14, kind B 16..31, and slot 15 is never filled.
inline constexpr int32_t kSlotCount = 32;
inline constexpr int32_t kFirstSlotKindA = 0;
inline constexpr int32_t kWordsKindA = 15;
inline constexpr int32_t kFirstSlotKindB = 16;
inline constexpr int32_t kWordsKindB = 16;

// Pos1's upper 6 bits are this slot's symbol.
inline constexpr int32_t kPos1HighSlot = 17;
// Pos1's lower 4 bits are the upper 4 bits of this slot's symbol.
inline constexpr int32_t kPos1LowSlot = 18;
inline constexpr int32_t kPos1Max = 1023;

}  // namespace common
