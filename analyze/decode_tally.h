// Decoding for vorlank-analyze: every run goes through the live tool's own DecodeRun, so frames,
// errors and Pos1 are exactly what `vorlank T` would show; the event it returns for each call tells
// the rest (kind of frame, kind of error, when Pos1 was written, what each frame carried) without a
// second decoder. Threads: records belong to one caller; no shared state.
#pragma once

#include <array>
#include <cstdint>

#include "decode/frame_decoder.h"

namespace analyze {

enum class FrameKind : int32_t {
    Unknown = 0,  // the header is not read yet, or was neither kind
    A,
    B,
};

// How a frame that a sync started has ended.
enum class FrameOutcome : int32_t {
    Open = 0,     // still being read
    Complete,     // every word valid; counted as a frame
    BadHeader,    // the header was neither kind; counted as an error
    InvalidWord,  // a word outside the code; counted as an error
    Unfinished,   // the input ended inside it
};

// One frame as the decoder read it, from its sync to its end.
struct FrameRecord {
    int64_t startSample = 0;  // the first sample after the sync run, from the start of the input
    FrameKind kind = FrameKind::Unknown;
    int32_t header = -1;  // the 6-bit header, -1 until read
    FrameOutcome outcome = FrameOutcome::Open;
    int32_t failedSlot = -1;                        // InvalidWord: the slot of the word, else -1
    std::array<int32_t, common::kSlotCount> sym{};  // symbol per slot, -1 for the invalid word
    uint32_t storedSlots = 0;                       // bit k set: slot k was stored in this frame
};

struct DecodeTally {
    decode::FrameDecoder decoder;
    // The last Pos1 written, 0..1023, as the live tool would show it.
    int32_t pos1 = 0;
    int64_t framesA = 0;
    int64_t framesB = 0;
    int64_t badHeaders = 0;
    int64_t invalidWords = 0;
    int64_t pos1Writes = 0;
    FrameRecord frame;  // the latest frame: open, or as it ended
};

// Feeds one run (samples, at least 1) to the decoder; `endSample` is where the run ends, counted
// from the start of the input (the position of the first sample after it). Returns what the
// decoder did.
decode::DecodeEvent TallyRun(DecodeTally& tally, int32_t length, int64_t endSample);

}  // namespace analyze
