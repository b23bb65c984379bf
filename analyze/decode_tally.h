// Decoding for vorlank-analyze: every run goes through the very DecodeRun of the live tool, so the
// frames, errors and Pos1 it counts are exactly what `vorlank T` would have shown for the same
// runs. The live tool keeps only a total of frames and a total of errors; the analysis wants to
// know more (which kind of frame, which kind of error, when Pos1 was written), and gets it by
// watching the decoder's record change across each call rather than by a second decoder:
//
//   pcmFrames rose     -> symbolCount is 15 after a kind-A frame, 32 after a kind-B frame
//   pcmErrors rose     -> in Header before the call: a bad header; in Symbols: an invalid code word
//   slot 18 just filled with a valid symbol -> Pos1 was written (even if the frame fails later)
//
// Also the Pos1 track for the picture: Pos1 over time in a fixed number of time buckets, each
// holding the lowest and highest value written in it. When the recording outgrows the buckets,
// their width doubles and neighbours merge, so memory stays fixed however long the input.
//
// Threads: records belong to one caller; no shared state.
#pragma once

#include <array>
#include <cstdint>

#include "common/shared_types.h"
#include "decode/frame_decoder.h"

struct DecodeTally {
    FrameDecoder decoder;
    SharedStatus status;  // pcmFrames, pcmErrors and pos1 as the live tool would show them
    int64_t framesA = 0;
    int64_t framesB = 0;
    int64_t badHeaders = 0;
    int64_t invalidWords = 0;
    int64_t pos1Writes = 0;
};

// Feeds one run (samples, at least 1) to the decoder. Returns true when this run wrote Pos1; the
// value is then in status.pos1.
bool TallyRun(DecodeTally& tally, int32_t length);

inline constexpr int32_t kTrackBuckets = 512;
// Starting width of a bucket: 0.1 s, finer than any picture of a recording needs.
inline constexpr int64_t kTrackStartBucketSamples = 4410;

struct Pos1Bucket {
    int16_t low = 0;  // valid when used
    int16_t high = 0;
    bool used = false;
};

struct Pos1Track {
    std::array<Pos1Bucket, kTrackBuckets> buckets{};
    int64_t bucketSamples = kTrackStartBucketSamples;  // width of one bucket, samples
};

// Records a Pos1 value written at sample `at` (from the start of the input, never decreasing).
void AddPos1(Pos1Track& track, int64_t at, int32_t value);
