// Frame decoder: turns run lengths (samples) into bit cells, bits, code words and frames.
//
// A bit cell lasts 6.623 samples at 44 100 Hz. A frame starts with a sync run of 18 cells; the
// run after it carries 0-bits, the next 1-bits, and so on alternating, whatever level the slicer
// saw. Then come a 6-bit header and 10-bit code words (see symbol_code.h):
//
//   kind A:  sync | 000011 | 15 code words -> slots 0..14
//   kind B:  sync | 000000 | 2 skipped bits | 16 code words -> slots 16..31
//
// Pos1, the 10-bit position, is taken from slots 17 and 18 of a kind-B frame:
//
//   pos1 = sym[17] (6 bits) above the upper 4 bits of sym[18]:  [ s17 5..0 | s18 5..2 ]
//
// Every call also says what it did in `lastEvent`, one event per call: the live tool never reads
// it, an offline study watches it instead of second-guessing the decoder from its counters.
//
// Threads: DecodeRun runs on the audio thread only. It writes pcmFrames, pcmErrors and pos1 of
// the SharedStatus with relaxed stores; the rest of the record is private to that thread.
#pragma once

#include <cstdint>

#include "common/shared_types.h"
#include "common/signal_format.h"

enum class DecoderState : int32_t {
    Hunting = 0,  // waiting for a sync run of exactly 18 cells
    Header = 1,   // collecting the 6 header bits
    Symbols = 2,  // collecting 10-bit code words
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
    None = 0,       // no sync while hunting, or bits appended without completing a header or word
    FrameStarted,   // a sync run: a frame's bits begin with the next run
    HeaderKindA,    // header 000011 read; slots 0..14 follow
    HeaderKindB,    // header 000000 read; 2 spare bits and slots 16..31 follow
    BadHeader,      // any other header; counted in pcmErrors, the frame is over
    SymbolStored,   // a valid word stored in `slot`
    Pos1Written,    // a valid word stored in slot 18, and pos1 written from slots 17 and 18
    FrameComplete,  // a valid word stored in the frame's last slot; counted in pcmFrames
    InvalidWord,    // a word outside the code; sym[slot] = -1, counted in pcmErrors, frame over
};

struct DecodeEvent {
    DecodeEventKind kind = DecodeEventKind::None;
    int32_t slot = -1;  // word events: the slot written, 0..31; otherwise -1
    int32_t value = 0;  // header events: the header 0..63; word events: the symbol 0..63 or -1
    uint32_t word = 0;  // word events: the 10-bit word read, first-received bit as bit 9
};

struct FrameDecoder {
    DecoderState state = DecoderState::Hunting;
    uint32_t level = 0;     // bit value (0 or 1) given to the cells of the next run
    uint32_t shiftReg = 0;  // newest bit at the least significant end
    int32_t bitCount = 0;   // unconsumed bits: the lowest bitCount bits of shiftReg, oldest highest
    int32_t symbolCount = 0;       // slot the next symbol goes to, 0..32
    int32_t sym[kSlotCount] = {};  // symbol per slot: 0..63, or -1 for the word that ended a frame
    DecodeEvent lastEvent;         // what the latest call did; set by every call
};

// Whole bit cells in a run of `length` samples, rounded to nearest: 1-3 samples give 0 cells,
// 4-9 give 1, 116-122 give 18.
int32_t CellsInRun(int32_t length);

// Feeds one run, in delivery order. `length` is in samples, at least 1.
void DecodeRun(FrameDecoder& decoder, SharedStatus& status, int32_t length);
