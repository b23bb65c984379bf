// Feeds the frame decoder arbitrary run lengths, long runs inside frames included, and checks
// that its state never leaves its bounds whatever arrives, and that the event of every call agrees
// with the state it leaves: a frame over (FrameComplete, BadHeader, InvalidWord) means hunting
// again, a sync means a header next, and only a word event names a slot.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "decode/frame_decoder.h"

namespace {

// Four input bytes make one run. The top two bits pick a range so that the fuzzer reaches the
// interesting lengths often: a few cells, around the 18-cell sync, or anything up to INT32_MAX.
int32_t RunLength(uint32_t word) {
    const uint32_t value = word & 0x3FFFFFFFu;
    switch (word >> 30) {
        case 0:
            return static_cast<int32_t>(1 + value % 64);
        case 1:
            return static_cast<int32_t>(100 + value % 40);
        case 2:
            return static_cast<int32_t>(1 + value % 4000);
        default:
            return static_cast<int32_t>(1 + (word & 0x7FFFFFFEu));
    }
}

void Check(bool ok) {
    if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using decode::DecodeEventKind;
    using decode::DecoderState;
    decode::FrameDecoder decoder;
    for (size_t at = 0; at + 4 <= size; at += 4) {
        uint32_t word = 0;
        std::memcpy(&word, data + at, 4);
        const decode::DecodeEvent event = decode::DecodeRun(decoder, RunLength(word));
        Check(decoder.bitCount <= 32);
        Check(decoder.symbolCount >= 0 && decoder.symbolCount <= 32);
        Check(decoder.level <= 1);
        Check(event.pos1 >= 0 && event.pos1 <= 1023);
        Check(event.pos1 == 0 || event.kind == DecodeEventKind::Pos1Written);
        const bool over = event.kind == DecodeEventKind::FrameComplete ||
                          event.kind == DecodeEventKind::BadHeader ||
                          event.kind == DecodeEventKind::InvalidWord;
        Check(!over || decoder.state == DecoderState::Hunting);
        Check(event.kind != DecodeEventKind::FrameStarted || decoder.state == DecoderState::Header);
        Check((event.slot >= 0) == (event.kind >= DecodeEventKind::SymbolStored));
        Check(event.slot < common::kSlotCount && event.word < 1024u);
    }
    return 0;
}
