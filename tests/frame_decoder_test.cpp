#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "decode/frame_decoder.h"
#include "decode/symbol_code.h"

namespace {

using common::kCodeWordBits;
using common::kSamplesPerCell;
using decode::CellsInRun;
using decode::DecodeEvent;
using decode::DecodeEventKind;
using decode::DecoderState;
using decode::kCodeWordCount;
using decode::LookupSymbol;

// Samples for a run of `cells` bit cells at the nominal cell length.
int32_t SamplesFor(int32_t cells) {
    return static_cast<int32_t>(std::lround(cells * kSamplesPerCell));
}

constexpr int32_t kSync = 120;       // 18 cells
constexpr int32_t kZeroCellRun = 2;  // too short for a cell, but still a change of level

// Ten-bit word of a symbol value, found by searching the table (whose contents are checked
// against the code's rule in symbol_code_test.cpp).
std::string WordFor(int value) {
    for (uint32_t word = 0; word < kCodeWordCount; ++word) {
        if (LookupSymbol(word) == value) {
            std::string bits;
            for (int b = kCodeWordBits - 1; b >= 0; --b) bits += ((word >> b) & 1u) ? '1' : '0';
            return bits;
        }
    }
    ADD_FAILURE() << "no word for " << value;
    return {};
}

// The runs that carry `bits` right after a sync: the first run carries 0-bits, the next 1-bits
// and so on, so a leading 1 needs a run too short to hold a cell in front of it.
std::vector<int32_t> RunsFor(const std::string& bits) {
    std::vector<int32_t> runs;
    char current = '0';
    int32_t cells = 0;
    for (char bit : bits) {
        if (bit == current) {
            ++cells;
            continue;
        }
        runs.push_back(cells == 0 ? kZeroCellRun : SamplesFor(cells));
        current = bit;
        cells = 1;
    }
    runs.push_back(SamplesFor(cells));
    return runs;
}

std::string FrameA(const std::vector<int>& symbols) {
    std::string bits = "000011";
    for (int s : symbols) bits += WordFor(s);
    return bits;
}

std::string FrameB(const std::vector<int>& symbols, const std::string& spare = "00") {
    std::string bits = "000000" + spare;
    for (int s : symbols) bits += WordFor(s);
    return bits;
}

// A decoder whose events are counted as the live tool counts them.
struct Harness {
    decode::FrameDecoder decoder;
    DecodeEvent last;
    int32_t frames = 0;
    int32_t errors = 0;
    int32_t pos1 = 0;

    void Feed(int32_t length) {
        last = decode::DecodeRun(decoder, length);
        frames += last.kind == DecodeEventKind::FrameComplete ? 1 : 0;
        errors +=
            last.kind == DecodeEventKind::BadHeader || last.kind == DecodeEventKind::InvalidWord
                ? 1
                : 0;
        if (last.kind == DecodeEventKind::Pos1Written) pos1 = last.pos1;
    }
    void FeedAll(const std::vector<int32_t>& runs) {
        for (int32_t r : runs) Feed(r);
    }
    void FeedFrame(const std::string& bits) {
        Feed(kSync);
        FeedAll(RunsFor(bits));
    }
};

TEST(FrameDecoder, RunLengthsRoundToCells) {
    const struct {
        int32_t samples;
        int32_t cells;
    } cases[] = {{1, 0},    {3, 0},    {4, 1},    {9, 1},    {10, 2},   {16, 2},
                 {17, 3},   {23, 3},   {115, 17}, {116, 18}, {122, 18}, {123, 19},
                 {203, 31}, {208, 31}, {209, 32}, {0, 0},    {-5, 0}};
    for (const auto& c : cases) EXPECT_EQ(CellsInRun(c.samples), c.cells) << c.samples;
    for (int32_t cells = 0; cells <= 40; ++cells) EXPECT_EQ(CellsInRun(SamplesFor(cells)), cells);
    // The longest run the slicer can deliver still converts without overflow.
    EXPECT_EQ(CellsInRun(std::numeric_limits<int32_t>::max()), 324246361);  // 2^31-1 / 6.623
}

TEST(FrameDecoder, OnlyEighteenCellRunsStartAFrame) {
    const struct {
        int32_t samples;
        bool starts;
    } cases[] = {{115, false}, {116, true}, {122, true}, {123, false}, {7, false}, {500, false}};
    for (const auto& c : cases) {
        Harness h;
        h.Feed(c.samples);
        EXPECT_EQ(h.decoder.state == DecoderState::Header, c.starts) << c.samples;
    }
}

TEST(FrameDecoder, HeaderSelectsFrameKind) {
    {
        Harness h;  // 4 cells of 0 then 2 cells of 1: header 000011
        h.FeedAll({kSync, 27, 14});
        EXPECT_EQ(h.decoder.state, DecoderState::Symbols);
        EXPECT_EQ(h.decoder.symbolCount, 0);
        EXPECT_EQ(h.decoder.bitCount, 0);
    }
    {
        Harness h;  // 6 cells of 0 in one run: header 000000, the two spare bits still to come
        h.FeedAll({kSync, 40});
        EXPECT_EQ(h.decoder.state, DecoderState::Symbols);
        EXPECT_EQ(h.decoder.symbolCount, 16);
        EXPECT_EQ(h.decoder.bitCount, -2);
    }
    {
        Harness h;  // 2 cells of 0 then 4 cells of 1: header 001111
        h.FeedAll({kSync, SamplesFor(2), SamplesFor(4)});
        EXPECT_EQ(h.decoder.state, DecoderState::Hunting);
        EXPECT_EQ(h.errors, 1);
        EXPECT_EQ(h.frames, 0);
    }
}

TEST(FrameDecoder, ShortRunFlipsLevelWithoutAddingBits) {
    Harness split;
    split.FeedAll({kSync, 27, 14, 10, 3, 10});  // header A, then 2 + 0 + 2 cells, all 0-bits
    EXPECT_EQ(split.decoder.bitCount, 4);
    EXPECT_EQ(split.decoder.shiftReg & 0xFu, 0u);

    Harness whole;
    whole.FeedAll({kSync, 27, 14, 20});  // the same stretch as one run rounds to 3 cells
    EXPECT_EQ(whole.decoder.bitCount, 3);
}

TEST(FrameDecoder, SyncLengthRunInsideAFrameIsData) {
    Harness h;
    h.FeedAll({kSync, 27, 14, 13, kSync});  // header A, two 0-bits, then 18 1-bits
    EXPECT_EQ(h.decoder.state, DecoderState::Symbols);
    EXPECT_EQ(h.decoder.symbolCount, 1);  // 0011111111 read, 10 bits left for the next run
    EXPECT_EQ(h.decoder.sym[0], 8);
    EXPECT_EQ(h.decoder.bitCount, 10);
}

TEST(FrameDecoder, CompleteFramesOfBothKinds) {
    std::vector<int> a(15), b(16);
    for (int i = 0; i < 15; ++i) a[i] = (i * 7) % 64;
    for (int i = 0; i < 16; ++i) b[i] = 63 - (i * 5) % 64;

    Harness h;
    h.FeedFrame(FrameA(a));
    EXPECT_EQ(h.frames, 1);
    EXPECT_EQ(h.pos1, 0);  // kind A carries no position
    for (int i = 0; i < 15; ++i) EXPECT_EQ(h.decoder.sym[i], a[i]);

    h.FeedFrame(FrameB(b, "11"));
    EXPECT_EQ(h.frames, 2);
    EXPECT_EQ(h.errors, 0);
    for (int i = 0; i < 16; ++i) EXPECT_EQ(h.decoder.sym[16 + i], b[i]);
    EXPECT_EQ(h.decoder.state, DecoderState::Hunting);
}

TEST(FrameDecoder, Pos1FromSlotsSeventeenAndEighteen) {
    const struct {
        int sym17, sym18, pos1;
    } cases[] = {{63, 60, 1023}, {0, 3, 0}, {1, 4, 17}, {42, 63, 687}};
    for (const auto& c : cases) {
        std::vector<int> symbols(16, 24);
        symbols[1] = c.sym17;
        symbols[2] = c.sym18;
        Harness h;
        h.Feed(kSync);
        const std::vector<int32_t> runs = RunsFor(FrameB(symbols));
        // The position is written as soon as slot 18 is in, long before the frame ends.
        size_t fed = 0;
        while (fed < runs.size() && h.decoder.symbolCount < 19) h.Feed(runs[fed++]);
        EXPECT_EQ(h.pos1, c.pos1) << c.sym17 << "," << c.sym18;
        EXPECT_EQ(h.frames, 0);
        while (fed < runs.size()) h.Feed(runs[fed++]);
        EXPECT_EQ(h.frames, 1);
        EXPECT_EQ(h.pos1, c.pos1);
    }
}

TEST(FrameDecoder, Pos1SurvivesAFrameThatFailsLater) {
    std::vector<int> symbols(16, 10);
    symbols[1] = 63;
    symbols[2] = 60;
    std::string bits = FrameB(symbols);
    bits.replace(6 + 2 + 4 * 10, 10, "0000000000");  // the fifth word (slot 20) becomes invalid
    Harness h;
    h.FeedFrame(bits);
    EXPECT_EQ(h.pos1, 1023);
    EXPECT_EQ(h.errors, 1);
    EXPECT_EQ(h.frames, 0);
    EXPECT_EQ(h.decoder.state, DecoderState::Hunting);
    EXPECT_EQ(h.decoder.sym[20], -1);
}

// Every call returns one event saying what it did; the event of a run sequence's last call, by row.
TEST(FrameDecoder, EventOfEachCall) {
    std::vector<int> a(15), b(16);
    for (int i = 0; i < 15; ++i) a[i] = (i * 11) % 64;
    for (int i = 0; i < 16; ++i) b[i] = (i * 13 + 5) % 64;
    b[1] = 63;  // Pos1 1023 from slots 17 and 18
    b[2] = 60;
    b[3] = 10;  // 0000111111: ends on 1-bits, so the invalid word put after it is a run of its own
    const auto word = [](int symbol) {
        return static_cast<uint32_t>(std::stoul(WordFor(symbol), nullptr, 2));
    };
    // Bits after a sync, cut after the given number of code words.
    const auto wordsOf = [](const std::string& frame, int headerBits, int words) {
        return frame.substr(
            0, static_cast<size_t>(headerBits) + static_cast<size_t>(words) * kCodeWordBits);
    };
    std::string bWithBadSlot20 = FrameB(b);
    bWithBadSlot20.replace(8 + 4 * kCodeWordBits, kCodeWordBits, "0000000000");
    const auto afterSync = [](const std::string& bits) {
        std::vector<int32_t> runs{kSync};
        for (int32_t r : RunsFor(bits)) runs.push_back(r);
        return runs;
    };
    std::vector<int32_t> thenHunting = afterSync(FrameA(a));
    thenHunting.push_back(SamplesFor(3));

    const struct {
        const char* name;
        std::vector<int32_t> runs;
        DecodeEventKind kind;
        int32_t slot;
        int32_t value;
        uint32_t word;
    } table[] = {
        {"no sync while hunting", {SamplesFor(17)}, DecodeEventKind::None, -1, 0, 0},
        {"sync", {kSync}, DecodeEventKind::FrameStarted, -1, 0, 0},
        {"header still short", {kSync, SamplesFor(4)}, DecodeEventKind::None, -1, 0, 0},
        {"header A", afterSync("000011"), DecodeEventKind::HeaderKindA, -1, 3, 0},
        {"header B", {kSync, SamplesFor(6)}, DecodeEventKind::HeaderKindB, -1, 0, 0},
        {"bad header", afterSync("001111"), DecodeEventKind::BadHeader, -1, 15, 0},
        {"word still short",
         {kSync, SamplesFor(4), SamplesFor(2), SamplesFor(2)},
         DecodeEventKind::None,
         -1,
         0,
         0},
        {"symbol stored", afterSync(wordsOf(FrameA(a), 6, 2)), DecodeEventKind::SymbolStored, 1,
         a[1], word(a[1])},
        {"Pos1 written", afterSync(wordsOf(FrameB(b), 8, 3)), DecodeEventKind::Pos1Written, 18, 60,
         word(60)},
        {"frame A complete", afterSync(FrameA(a)), DecodeEventKind::FrameComplete, 14, a[14],
         word(a[14])},
        {"frame B complete", afterSync(FrameB(b)), DecodeEventKind::FrameComplete, 31, b[15],
         word(b[15])},
        {"invalid word in slot 0",
         afterSync("000011"
                   "0000000000"),
         DecodeEventKind::InvalidWord, 0, -1, 0},
        {"invalid word in slot 20", afterSync(wordsOf(bWithBadSlot20, 8, 5)),
         DecodeEventKind::InvalidWord, 20, -1, 0},
        {"hunting again after a frame", thenHunting, DecodeEventKind::None, -1, 0, 0},
    };
    for (const auto& row : table) {
        Harness h;
        h.FeedAll(row.runs);
        const DecodeEvent& e = h.last;
        EXPECT_EQ(e.kind, row.kind) << row.name;
        EXPECT_EQ(e.slot, row.slot) << row.name;
        EXPECT_EQ(e.value, row.value) << row.name;
        EXPECT_EQ(e.word, row.word) << row.name;
        EXPECT_EQ(e.pos1, row.kind == DecodeEventKind::Pos1Written ? 1023 : 0) << row.name;
    }
}

// Well-formed frames never fall behind although only one word is read per run: every frame
// completes in the call for the run holding its last bit, and until that run it never holds more
// than 17 unread bits.
TEST(FrameDecoder, RandomWellFormedFramesAllCompleteWithoutBacklog) {
    std::mt19937 rng(12345);
    std::uniform_int_distribution<int> symbol(0, 63);
    Harness h;
    int expected = 0;
    for (int frame = 0; frame < 2000; ++frame) {
        const bool kindA = rng() % 2 == 0;
        std::vector<int> symbols(kindA ? 15 : 16);
        for (int& s : symbols) s = symbol(rng);
        const std::string spare = std::string(1, "01"[rng() % 2]) + "01"[rng() % 2];
        const std::vector<int32_t> runs = RunsFor(kindA ? FrameA(symbols) : FrameB(symbols, spare));
        h.Feed(kSync);
        for (size_t i = 0; i + 1 < runs.size(); ++i) {
            h.Feed(runs[i]);
            ASSERT_EQ(h.frames, expected) << "frame " << frame << " ended early";
            ASSERT_LE(h.decoder.bitCount, 17) << "frame " << frame << " run " << i;
        }
        h.Feed(runs.back());
        ++expected;
        ASSERT_EQ(h.frames, expected) << "frame " << frame;
        ASSERT_EQ(h.decoder.state, DecoderState::Hunting);
        if (!kindA) {
            ASSERT_EQ(h.pos1, (symbols[2] >> 2) | (symbols[1] << 4));
        }
    }
    EXPECT_EQ(h.errors, 0);
}

TEST(FrameDecoder, LongRunsInsideAFrameStayInBounds) {
    const int32_t lengths[] = {SamplesFor(32), SamplesFor(33), 100000,
                               std::numeric_limits<int32_t>::max()};
    for (int32_t length : lengths) {
        for (int32_t headerRuns = 0; headerRuns < 2; ++headerRuns) {
            Harness h;
            h.FeedAll({kSync, 27});
            if (headerRuns == 1) h.Feed(14);  // now in Symbols
            for (int i = 0; i < 50; ++i) {
                h.Feed(length);
                ASSERT_LE(h.decoder.bitCount, 32);
                ASSERT_LE(h.decoder.symbolCount, 32);
            }
        }
    }
}

// Arbitrary run lengths: whatever arrives, the decoder's state stays within its bounds and every
// event agrees with the state the call leaves.
TEST(FrameDecoder, ArbitraryRunsKeepInvariants) {
    std::mt19937 rng(777);
    std::uniform_int_distribution<int32_t> shortRun(1, 260);
    Harness h;
    for (int i = 0; i < 500000; ++i) {
        h.Feed(rng() % 50 == 0 ? kSync : shortRun(rng));
        ASSERT_LE(h.decoder.bitCount, 32);
        ASSERT_GE(h.decoder.symbolCount, 0);
        ASSERT_LE(h.decoder.symbolCount, 32);
        ASSERT_GE(h.last.pos1, 0);
        ASSERT_LE(h.last.pos1, 1023);
        const DecodeEventKind kind = h.last.kind;
        if (kind == DecodeEventKind::FrameStarted) {
            ASSERT_EQ(h.decoder.state, DecoderState::Header);
        }
        if (kind == DecodeEventKind::BadHeader || kind == DecodeEventKind::InvalidWord ||
            kind == DecodeEventKind::FrameComplete) {
            ASSERT_EQ(h.decoder.state, DecoderState::Hunting);
        }
    }
    EXPECT_GT(h.errors, 0);  // random runs are mostly rejected
}

}  // namespace
