#include "decode/symbol_code.h"

namespace decode {

namespace {

// Code words of the symbols 0..31, first-received bit leftmost. Symbol 63 - v is sent as the
// complement of the word of v, so the other half of the code follows from this one.
constexpr uint32_t kLowerHalf[32] = {
    0b1111111000, 0b1111110011, 0b1111100011, 0b1111100111,  //  0 ..  3
    0b1111000111, 0b1111001111, 0b1110001111, 0b1110011111,  //  4 ..  7
    0b0011111111, 0b0001111111, 0b0000111111, 0b1100111111,  //  8 .. 11
    0b1100011111, 0b1100001111, 0b1110000111, 0b1111000011,  // 12 .. 15
    0b0011111100, 0b0011110011, 0b0011100111, 0b0011001111,  // 16 .. 19
    0b1111001100, 0b1110011100, 0b1100111100, 0b1100110011,  // 20 .. 23
    0b1111110000, 0b1111100000, 0b1110000011, 0b1100000111,  // 24 .. 27
    0b1100011100, 0b1110011000, 0b1110001100, 0b1100111000,  // 28 .. 31
};

constexpr std::array<int32_t, kCodeWordCount> BuildTable() {
    std::array<int32_t, kCodeWordCount> table{};
    table.fill(-1);
    constexpr uint32_t kAllOnes = kCodeWordCount - 1;
    for (int32_t value = 0; value < 32; ++value) {
        table[kLowerHalf[value]] = value;
        table[kLowerHalf[value] ^ kAllOnes] = kSymbolCount - 1 - value;
    }
    return table;
}

}  // namespace

constinit const std::array<int32_t, kCodeWordCount> kSymbolCodeTable = BuildTable();

}  // namespace decode
