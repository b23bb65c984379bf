// Feeds the frame decoder arbitrary run lengths, long runs inside frames included, and checks
// that its state never leaves its bounds whatever arrives, and that the event of every call tells
// exactly what the counters show: a frame counted only with FrameComplete, an error only with
// BadHeader or InvalidWord.
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
    FrameDecoder decoder;
    SharedStatus status;
    int32_t frames = 0;
    int32_t errors = 0;
    for (size_t at = 0; at + 4 <= size; at += 4) {
        uint32_t word = 0;
        std::memcpy(&word, data + at, 4);
        DecodeRun(decoder, status, RunLength(word));
        Check(decoder.bitCount <= 32);
        Check(decoder.symbolCount >= 0 && decoder.symbolCount <= 32);
        Check(decoder.level <= 1);
        Check(Load(status.pos1) >= 0 && Load(status.pos1) <= 1023);
        const DecodeEventKind kind = decoder.lastEvent.kind;
        const bool failed =
            kind == DecodeEventKind::BadHeader || kind == DecodeEventKind::InvalidWord;
        Check((Load(status.pcmFrames) != frames) == (kind == DecodeEventKind::FrameComplete));
        Check((Load(status.pcmErrors) != errors) == failed);
        Check((decoder.lastEvent.slot >= 0) == (kind >= DecodeEventKind::SymbolStored));
        Check(decoder.lastEvent.slot < kSlotCount && decoder.lastEvent.word < 1024u);
        frames = Load(status.pcmFrames);
        errors = Load(status.pcmErrors);
    }
    return 0;
}
