#include "decode/frame_decoder.h"

#include "decode/symbol_code.h"

namespace decode {

namespace {

using common::kCodeWordBits;
using common::kHeaderBits;
using common::kPos1HighSlot;
using common::kPos1LowSlot;

// symbolCount after a frame's last word.
constexpr int32_t kFrameEndA = common::kFirstSlotKindA + common::kWordsKindA;
constexpr int32_t kFrameEndB = common::kFirstSlotKindB + common::kWordsKindB;
// symbolCount once slots 17 and 18 are both in.
constexpr int32_t kPos1Ready = kPos1LowSlot + 1;

// The register is 32 bits wide. A well-formed frame never holds more than 17 unconsumed bits, so
// more than 32 only happens on garbage (a long run inside a frame). Then only the newest 32 bits
// can be kept: the count is held at 32 and a run of 32 or more cells fills the whole register
// with its level, which never shifts by the full width. The words read from such a register mean
// nothing, but every read stays inside the register, the 10-bit table and the 32 slots.
constexpr int32_t kRegisterBits = 32;

void AppendCells(FrameDecoder& d, int32_t cells) {
    if (cells >= kRegisterBits) {
        d.shiftReg = d.level != 0 ? ~0u : 0u;
    } else if (cells > 0) {
        const uint32_t fill = d.level != 0 ? (1u << cells) - 1u : 0u;
        d.shiftReg = (d.shiftReg << cells) | fill;
    }
    d.level ^= 1u;
    // bitCount may be negative after the spare bits of kind B; those bits are dropped as they
    // arrive. It never exceeds the register.
    const int64_t held = int64_t{d.bitCount} + cells;
    d.bitCount = held > kRegisterBits ? kRegisterBits : static_cast<int32_t>(held);
}

// Removes the oldest `width` unconsumed bits and returns them, first-received most significant.
uint32_t TakeBits(FrameDecoder& d, int32_t width) {
    d.bitCount -= width;
    return (d.shiftReg >> d.bitCount) & ((1u << width) - 1u);
}

DecodeEvent ReadHeader(FrameDecoder& d) {
    if (d.bitCount < kHeaderBits) return DecodeEvent{};
    const uint32_t header = TakeBits(d, kHeaderBits);
    const auto value = static_cast<int32_t>(header);
    if (header == common::kHeaderKindA) {
        d.symbolCount = common::kFirstSlotKindA;
        d.state = DecoderState::Symbols;
        return DecodeEvent{DecodeEventKind::HeaderKindA, -1, value};
    }
    if (header == common::kHeaderKindB) {
        d.bitCount -= common::kSpareBitsKindB;
        d.symbolCount = common::kFirstSlotKindB;
        d.state = DecoderState::Symbols;
        return DecodeEvent{DecodeEventKind::HeaderKindB, -1, value};
    }
    d.state = DecoderState::Hunting;
    return DecodeEvent{DecodeEventKind::BadHeader, -1, value};
}

// At most one code word per run. The code keeps every run short enough that a well-formed frame
// never falls behind this way: its words are all read by the run that holds its last bit.
DecodeEvent ReadSymbol(FrameDecoder& d) {
    if (d.bitCount < kCodeWordBits) return DecodeEvent{};
    const uint32_t word = TakeBits(d, kCodeWordBits);
    const int32_t value = LookupSymbol(word);
    // symbolCount is at most 31 here: kind A ends at 15 and kind B at 32, both back to Hunting.
    const int32_t slot = d.symbolCount;
    d.sym[slot] = value;
    d.symbolCount = slot + 1;
    if (value < 0) {
        d.state = DecoderState::Hunting;
        return DecodeEvent{DecodeEventKind::InvalidWord, slot, value, word};
    }
    switch (d.symbolCount) {
        case kFrameEndA:
        case kFrameEndB:
            d.state = DecoderState::Hunting;
            return DecodeEvent{DecodeEventKind::FrameComplete, slot, value, word};
        case kPos1Ready:
            return DecodeEvent{DecodeEventKind::Pos1Written, slot, value, word,
                               (d.sym[kPos1LowSlot] >> 2) | (d.sym[kPos1HighSlot] << 4)};
        default:
            return DecodeEvent{DecodeEventKind::SymbolStored, slot, value, word};
    }
}

}  // namespace

int32_t CellsInRun(int32_t length) {
    // Round to nearest: floor(length / 6.623 + 0.5). For the positive values that lengths of one
    // sample or more give, truncation is floor, and it spares a library call per run where the
    // target has no rounding instruction. Lengths below 1 never occur; they give no cells.
    const double cells = static_cast<double>(length) * common::kCellsPerSample + 0.5;
    return cells >= 1.0 ? static_cast<int32_t>(cells) : 0;
}

DecodeEvent DecodeRun(FrameDecoder& d, int32_t length) {
    const int32_t cells = CellsInRun(length);
    if (d.state == DecoderState::Hunting) {
        if (cells != common::kSyncCells) return DecodeEvent{};
        d.level = 0;
        d.shiftReg = 0;
        d.bitCount = 0;
        d.symbolCount = 0;
        d.state = DecoderState::Header;
        return DecodeEvent{DecodeEventKind::FrameStarted};
    }
    AppendCells(d, cells);
    return d.state == DecoderState::Header ? ReadHeader(d) : ReadSymbol(d);
}

}  // namespace decode
