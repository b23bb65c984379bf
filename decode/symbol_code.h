// The line code of the signal: every 6-bit symbol travels as a 10-bit code word in which each run
// of equal bits is at least two bits long, which keeps the shortest pulse at two bit cells and the
// signal free of isolated single-cell pulses that a soft channel would smear away.
//
// Words are read with the first-received bit as bit 9 and the last-received as bit 0.
// Pure constant data; safe from any thread.
#pragma once

#include <array>
#include <cstdint>

#include "common/signal_format.h"

inline constexpr int kCodeWordCount = 1 << kCodeWordBits;  // 1024
inline constexpr int kSymbolCount = 1 << kSymbolBits;      // 64

// Value 0..63 of every valid code word, -1 for the other 960 words.
extern const std::array<int32_t, kCodeWordCount> SymbolCodeTable;

// `word` must already be masked to ten bits (0..1023).
inline int32_t LookupSymbol(uint32_t word) {
    return SymbolCodeTable[word];
}
