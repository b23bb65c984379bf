// The signal Vorlank receives, as numbers: its sampling, its bit cells and its frame layout. Every
// part that needs one of these facts (capture, decoder, synthesizer, analyzer, benchmarks, tests)
// takes it from here, so each is written down exactly once.
//
// Sampling: one channel of signed 16-bit little-endian samples at 44 100 Hz.
//
// Bit cells: a cell lasts 6.623 samples (about 150.2 us). A run of the slicer is rounded to whole
// cells; bits alternate from run to run, so the rounded lengths give the bit stream.
//
// Frame, in cells (first-received bit leftmost):
//
//   kind A:  sync (18) | header 000011 (6) | 15 code words (10 each) -> slots 0..14
//   kind B:  sync (18) | header 000000 (6) | 2 spare bits | 16 code words -> slots 16..31
//
// Each 10-bit code word carries a 6-bit symbol (decode/symbol_code.h). Pos1, the 10-bit position,
// is the symbol of slot 17 (6 bits) above the upper 4 bits of the symbol of slot 18.
//
// Pure constants; safe from any thread.
#pragma once

#include <cstdint>

inline constexpr int32_t kSampleRateHz = 44100;

inline constexpr double kSamplesPerCell = 6.623;
// The decoder's rounding factor, 1 / kSamplesPerCell, written out as the decoder has always used
// it.
inline constexpr double CellsPerSample = 0.15098897780462026;
static_assert(CellsPerSample == 1.0 / kSamplesPerCell, "cell length and its inverse disagree");

inline constexpr int32_t kSyncCells = 18;
inline constexpr int32_t kHeaderBits = 6;
inline constexpr uint32_t kHeaderKindA = 0b000011;
inline constexpr uint32_t kHeaderKindB = 0b000000;
// Kind B carries two bits between its header and its first code word that mean nothing.
inline constexpr int32_t kSpareBitsKindB = 2;
inline constexpr int32_t kCodeWordBits = 10;
inline constexpr int32_t kSymbolBits = 6;

inline constexpr int32_t kSlotCount = 32;
inline constexpr int32_t kFirstSlotKindA = 0;
inline constexpr int32_t kWordsKindA = 15;  // slots 0..14; slot 15 is never filled
inline constexpr int32_t kFirstSlotKindB = 16;
inline constexpr int32_t kWordsKindB = 16;  // slots 16..31

inline constexpr int32_t kPos1HighSlot = 17;  // its 6 bits are Pos1's upper 6
inline constexpr int32_t kPos1LowSlot = 18;   // its upper 4 bits are Pos1's lower 4
inline constexpr int32_t kPos1Max = 1023;
