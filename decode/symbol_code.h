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

// The code word of every symbol 0..63, first-sent bit as bit 9: what a transmitter sends.
inline constexpr std::array<uint16_t, kSymbolCount> kCodeWords = [] {
    // The words of symbols 0..31. Symbol 63 - v is sent as the complement of the word of v, so
    // the other half of the code follows from this one.
    constexpr uint16_t kLowerHalf[kSymbolCount / 2] = {
        0b1111111000, 0b1111110011, 0b1111100011, 0b1111100111,  //  0 ..  3
        0b1111000111, 0b1111001111, 0b1110001111, 0b1110011111,  //  4 ..  7
        0b0011111111, 0b0001111111, 0b0000111111, 0b1100111111,  //  8 .. 11
        0b1100011111, 0b1100001111, 0b1110000111, 0b1111000011,  // 12 .. 15
        0b0011111100, 0b0011110011, 0b0011100111, 0b0011001111,  // 16 .. 19
        0b1111001100, 0b1110011100, 0b1100111100, 0b1100110011,  // 20 .. 23
        0b1111110000, 0b1111100000, 0b1110000011, 0b1100000111,  // 24 .. 27
        0b1100011100, 0b1110011000, 0b1110001100, 0b1100111000,  // 28 .. 31
    };
    std::array<uint16_t, kSymbolCount> words{};
    for (int32_t value = 0; value < kSymbolCount / 2; ++value) {
        words[value] = kLowerHalf[value];
        words[kSymbolCount - 1 - value] = kLowerHalf[value] ^ (kCodeWordCount - 1);
    }
    return words;
}();

// Value 0..63 of every valid code word, -1 for the other 960 words.
inline constexpr std::array<int32_t, kCodeWordCount> kSymbolCodeTable = [] {
    std::array<int32_t, kCodeWordCount> table{};
    table.fill(-1);
    for (int32_t value = 0; value < kSymbolCount; ++value) table[kCodeWords[value]] = value;
    return table;
}();

// `word` must already be masked to ten bits (0..1023).
constexpr int32_t LookupSymbol(uint32_t word) {
    return kSymbolCodeTable[word];
}

}  // namespace decode
