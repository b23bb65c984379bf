// The code table is checked against the rule that defines the code, not against a copy of itself.
#include <gtest/gtest.h>

#include <set>

#include "decode/symbol_code.h"

namespace {

using common::kCodeWordBits;
using decode::kCodeWordCount;
using decode::kSymbolCount;
using decode::LookupSymbol;

constexpr uint32_t kMask = kCodeWordCount - 1;

// True when every run of equal bits in the ten-bit word is at least two bits long.
bool AllRunsAtLeastTwo(uint32_t word) {
    int run = 1;
    for (int bit = kCodeWordBits - 2; bit >= 0; --bit) {
        if (((word >> bit) & 1u) == ((word >> (bit + 1)) & 1u)) {
            ++run;
        } else {
            if (run < 2) return false;
            run = 1;
        }
    }
    return run >= 2;
}

bool IsException(uint32_t word) {
    return word == 0b0000000000 || word == 0b0000000011 || word == 0b1111111100 ||
           word == 0b1111111111;
}

TEST(SymbolCode, ValidWordsAreExactlyThoseOfTheRule) {
    int valid = 0;
    for (uint32_t word = 0; word < kCodeWordCount; ++word) {
        const bool expected = AllRunsAtLeastTwo(word) && !IsException(word);
        EXPECT_EQ(LookupSymbol(word) >= 0, expected) << "word " << word;
        if (expected) ++valid;
    }
    EXPECT_EQ(valid, kSymbolCount);
}

TEST(SymbolCode, EveryValueIsCarriedByExactlyOneWord) {
    std::set<int32_t> values;
    for (uint32_t word = 0; word < kCodeWordCount; ++word) {
        const int32_t value = LookupSymbol(word);
        if (value < 0) {
            EXPECT_EQ(value, -1) << "word " << word;
            continue;
        }
        EXPECT_LT(value, kSymbolCount);
        EXPECT_TRUE(values.insert(value).second) << "value " << value << " appears twice";
    }
    EXPECT_EQ(values.size(), static_cast<size_t>(kSymbolCount));
}

TEST(SymbolCode, ComplementGivesSixtyThreeMinusValueAndWordsStartWithAPair) {
    for (uint32_t word = 0; word < kCodeWordCount; ++word) {
        const int32_t value = LookupSymbol(word);
        if (value < 0) continue;
        EXPECT_EQ(LookupSymbol(word ^ kMask), 63 - value) << "word " << word;
        const uint32_t firstTwo = word >> 8;
        EXPECT_TRUE(firstTwo == 0b00 || firstTwo == 0b11) << "word " << word;
    }
}

TEST(SymbolCode, EverySymbolsWordReadsBackAsIt) {
    for (int32_t v = 0; v < kSymbolCount; ++v)
        EXPECT_EQ(LookupSymbol(decode::kCodeWords[static_cast<size_t>(v)]), v) << "symbol " << v;
}

TEST(SymbolCode, KnownWords) {
    const struct {
        uint32_t word;
        int32_t value;
    } cases[] = {
        {0b1111111000, 0},  {0b0000000111, 63}, {0b0011111111, 8},  {0b1100000000, 55},
        {0b1111000011, 15}, {0b1100111000, 31}, {0b0011000111, 32}, {0b1100110011, 23},
        {0b0000000000, -1}, {0b0000000011, -1}, {0b1111111100, -1}, {0b1111111111, -1},
        {0b0000000001, -1}, {0b0101010101, -1}, {0b1110111111, -1}, {0b0011100110, -1},
    };
    for (const auto& c : cases) EXPECT_EQ(LookupSymbol(c.word), c.value) << "word " << c.word;
}

}  // namespace
