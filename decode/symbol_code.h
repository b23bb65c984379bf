// The line code of the signal: every 6-bit symbol travels as a 10-bit code word in which each run
// of equal bits is at least two bits long, so the shortest pulse is two bit cells and a soft
// channel has no single-cell pulse to smear away. Words are read with the first-received bit as
// bit 9 (layout: common/signal_format.h). Pure constant data; safe from any thread.
#pragma once

#include <array>
#include <cstdint>

#include "common/signal_format.h"

namespace decode {

// Ten-bit words: 1024.
inline constexpr int kCodeWordCount = 1 << common::kCodeWordBits;
// Six-bit symbols: 64.
inline constexpr int kSymbolCount = 1 << common::kSymbolBits;

// Value 0..63 of every valid code word, -1 for the other 960 words.
extern const std::array<int32_t, kCodeWordCount> kSymbolCodeTable;

// `word` must already be masked to ten bits (0..1023).
inline int32_t LookupSymbol(uint32_t word) {
    return kSymbolCodeTable[word];
}

}  // namespace decode
