#include "analyze/decode_tally.h"

#include <algorithm>

namespace {

// The frame decoder's slot numbers: kind A ends when slot 14 is filled (symbolCount 15), kind B
// when slot 31 is (32); Pos1 is formed as soon as slot 18 holds a symbol.
constexpr int32_t kFrameEndA = kFirstSlotKindA + kWordsKindA;
constexpr int32_t kFrameEndB = kFirstSlotKindB + kWordsKindB;
constexpr int32_t kPos1Slot = kPos1LowSlot;

void MergePairs(Pos1Track& track) {
    for (size_t i = 0; i < kTrackBuckets / 2; ++i) {
        const Pos1Bucket& a = track.buckets[2 * i];
        const Pos1Bucket& b = track.buckets[2 * i + 1];
        Pos1Bucket merged = a.used ? a : b;
        if (a.used && b.used) {
            merged.low = std::min(a.low, b.low);
            merged.high = std::max(a.high, b.high);
        }
        track.buckets[i] = merged;
    }
    std::fill(track.buckets.begin() + kTrackBuckets / 2, track.buckets.end(), Pos1Bucket{});
    track.bucketSamples *= 2;
}

}  // namespace

bool TallyRun(DecodeTally& tally, int32_t length) {
    const DecoderState stateBefore = tally.decoder.state;
    const int32_t slotBefore = tally.decoder.symbolCount;
    const int32_t framesBefore = Load(tally.status.pcmFrames);
    const int32_t errorsBefore = Load(tally.status.pcmErrors);

    DecodeRun(tally.decoder, tally.status, length);

    if (Load(tally.status.pcmFrames) != framesBefore) {
        if (tally.decoder.symbolCount == kFrameEndA) ++tally.framesA;
        if (tally.decoder.symbolCount == kFrameEndB) ++tally.framesB;
    }
    const bool failed = Load(tally.status.pcmErrors) != errorsBefore;
    if (failed) {
        if (stateBefore == DecoderState::Header) ++tally.badHeaders;
        if (stateBefore == DecoderState::Symbols) ++tally.invalidWords;
    }
    const bool pos1Written = stateBefore == DecoderState::Symbols && slotBefore == kPos1Slot &&
                             tally.decoder.symbolCount == kPos1Slot + 1 && !failed;
    if (pos1Written) ++tally.pos1Writes;
    return pos1Written;
}

void AddPos1(Pos1Track& track, int64_t at, int32_t value) {
    while (at / track.bucketSamples >= kTrackBuckets) MergePairs(track);
    Pos1Bucket& bucket = track.buckets[static_cast<size_t>(at / track.bucketSamples)];
    const auto v = static_cast<int16_t>(value);  // Pos1 is 10 bits
    if (!bucket.used) {
        bucket = Pos1Bucket{v, v, true};
    } else {
        bucket.low = std::min(bucket.low, v);
        bucket.high = std::max(bucket.high, v);
    }
}
