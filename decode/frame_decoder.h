// Frame decoder: turns run lengths (samples) into bit cells, bits, code words and frames, laid out
// as common/signal_format.h draws them. Every call returns what it did as one DecodeEvent; the
// decoder writes nothing outside its own record, so its caller decides what the events change.
// Threads: a record belongs to one thread (live: the sound input's, inside the slicer's call).
#pragma once

#include <cstdint>

#include "common/signal_format.h"

namespace decode {

enum class DecoderState : int32_t {
    // Waiting for a sync run of exactly 18 cells.
    Hunting = 0,
    // Collecting the 6 header bits.
    Header = 1,
    // Collecting 10-bit code words.
    Symbols = 2,
};

// What one call of DecodeRun did. A call reads at most one header or one code word, so one event
// says all of it; where a stored word also completes a step (Pos1, the end of a frame), the event
// names that step and still carries the word's slot and symbol.
//
//   Hunting --sync--> FrameStarted
//   Header  --6 bits--> HeaderKindA | HeaderKindB | BadHeader (back to Hunting)
//   Symbols --10 bits--> SymbolStored | Pos1Written | FrameComplete (back to Hunting)
//                        | InvalidWord (back to Hunting)
enum class DecodeEventKind : int32_t {
    // No sync while hunting, or bits appended without completing a header or a word.
    None = 0,
    // A sync run: the frame's bits begin with the next run.
    FrameStarted,
    // Header 000011 read; slots 0..14 follow.
    HeaderKindA,
    // Header 000000 read; 2 spare bits and slots 16..31 follow.
    HeaderKindB,
    // Any other header: a decoding error; the frame is over.
    BadHeader,
    // A valid word stored in `slot`.
    SymbolStored,
    // A valid word stored in slot 18, and with slot 17 a new Pos1 in `pos1`.
    Pos1Written,
    // A valid word stored in the frame's last slot: a frame completed.
    FrameComplete,
    // A word outside the code: a decoding error; sym[slot] = -1, the frame is over.
    InvalidWord,
};

struct DecodeEvent {
    DecodeEventKind kind = DecodeEventKind::None;
    // Word events: the slot written, 0..31; otherwise -1.
    int32_t slot = -1;
    // Header events: the header, 0..63; word events: the symbol, 0..63, or -1 when invalid.
    int32_t value = 0;
    // Word events: the 10-bit word read, first-received bit as bit 9.
    uint32_t word = 0;
    // Pos1Written: the new position, 0..1023.
    int32_t pos1 = 0;
};

struct FrameDecoder {
    DecoderState state = DecoderState::Hunting;
    // Bit value, 0 or 1, given to the cells of the next run.
    uint32_t level = 0;
    // Received bits, the newest at the least significant end.
    uint32_t shiftReg = 0;
    // Unconsumed bits: the lowest bitCount bits of shiftReg, the oldest highest; at most 32.
    int32_t bitCount = 0;
    // Slot the next symbol goes to, 0..32.
    int32_t symbolCount = 0;
    // Symbol per slot: 0..63, or -1 for the word that ended a frame.
    int32_t sym[common::kSlotCount] = {};
};

// Whole bit cells in a run of `length` samples, rounded to nearest: 1-3 samples give 0 cells,
// 4-9 give 1, 116-122 give 18.
int32_t CellsInRun(int32_t length);

// Feeds one run, in delivery order; `length` is in samples, at least 1.
[[nodiscard]] DecodeEvent DecodeRun(FrameDecoder& decoder, int32_t length);

}  // namespace decode
