#include "analyze/decode_tally.h"

namespace {

void StoreSlot(FrameRecord& frame, const DecodeEvent& event) {
    frame.sym[static_cast<size_t>(event.slot)] = event.value;
    frame.storedSlots |= 1u << event.slot;
}

}  // namespace

DecodeEvent TallyRun(DecodeTally& tally, int32_t length, int64_t endSample) {
    DecodeRun(tally.decoder, tally.status, length);
    const DecodeEvent event = tally.decoder.lastEvent;
    FrameRecord& frame = tally.frame;
    switch (event.kind) {
        case DecodeEventKind::None:
            break;
        case DecodeEventKind::FrameStarted:
            frame = FrameRecord{};
            frame.startSample = endSample;
            break;
        case DecodeEventKind::HeaderKindA:
        case DecodeEventKind::HeaderKindB:
            frame.header = event.value;
            frame.kind = event.kind == DecodeEventKind::HeaderKindA ? FrameKind::A : FrameKind::B;
            break;
        case DecodeEventKind::BadHeader:
            frame.header = event.value;
            frame.outcome = FrameOutcome::BadHeader;
            ++tally.badHeaders;
            break;
        case DecodeEventKind::SymbolStored:
            StoreSlot(frame, event);
            break;
        case DecodeEventKind::Pos1Written:
            StoreSlot(frame, event);
            ++tally.pos1Writes;
            break;
        case DecodeEventKind::FrameComplete:
            StoreSlot(frame, event);
            frame.outcome = FrameOutcome::Complete;
            ++(frame.kind == FrameKind::A ? tally.framesA : tally.framesB);
            break;
        case DecodeEventKind::InvalidWord:
            StoreSlot(frame, event);
            frame.failedSlot = event.slot;
            frame.outcome = FrameOutcome::InvalidWord;
            ++tally.invalidWords;
            break;
    }
    return event;
}

bool EndsFrame(DecodeEventKind kind) {
    return kind == DecodeEventKind::BadHeader || kind == DecodeEventKind::FrameComplete ||
           kind == DecodeEventKind::InvalidWord;
}

bool FinishTally(DecodeTally& tally) {
    if (tally.decoder.state == DecoderState::Hunting) return false;
    tally.frame.outcome = FrameOutcome::Unfinished;
    return true;
}
