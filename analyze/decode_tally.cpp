#include "analyze/decode_tally.h"

#include <cstddef>

namespace analyze {

using Kind = decode::DecodeEventKind;

decode::DecodeEvent TallyRun(DecodeTally& tally, int32_t length, int64_t endSample) {
    const decode::DecodeEvent event = decode::DecodeRun(tally.decoder, length);
    FrameRecord& frame = tally.frame;
    // Every word event, the invalid word's too, names the slot it filled.
    if (event.slot >= 0) {
        frame.sym[static_cast<size_t>(event.slot)] = event.value;
        frame.storedSlots |= 1u << event.slot;
    }
    switch (event.kind) {
        case Kind::None:
        case Kind::SymbolStored:
            break;
        case Kind::FrameStarted:
            frame = FrameRecord{};
            frame.startSample = endSample;
            break;
        case Kind::HeaderKindA:
        case Kind::HeaderKindB:
            frame.header = event.value;
            frame.kind = event.kind == Kind::HeaderKindA ? FrameKind::A : FrameKind::B;
            break;
        case Kind::BadHeader:
            frame.header = event.value;
            frame.outcome = FrameOutcome::BadHeader;
            ++tally.badHeaders;
            break;
        case Kind::Pos1Written:
            tally.pos1 = event.pos1;
            ++tally.pos1Writes;
            break;
        case Kind::FrameComplete:
            frame.outcome = FrameOutcome::Complete;
            ++(frame.kind == FrameKind::A ? tally.framesA : tally.framesB);
            break;
        case Kind::InvalidWord:
            frame.failedSlot = event.slot;
            frame.outcome = FrameOutcome::InvalidWord;
            ++tally.invalidWords;
            break;
    }
    return event;
}

}  // namespace analyze
