// What the picture draws over time, gathered while the input is read: the lowest and highest Pos1
// and the frames and errors in each stretch of time. A fixed number of buckets: when the input
// outgrows them a bucket's width doubles and neighbours merge. Threads: one caller per record.
#pragma once

#include <array>
#include <cstdint>

#include "common/signal_format.h"

namespace analyze {

inline constexpr int32_t kTrackBuckets = 512;
// Starting width of a Pos1 bucket: 0.1 s, finer than any picture of a recording needs.
inline constexpr int64_t kTrackStartBucketSamples = common::kSampleRateHz / 10;

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

struct TimelineBucket {
    int32_t frames = 0;  // frames completed in the bucket
    int32_t errors = 0;  // bad headers and invalid code words
};

struct Timeline {
    std::array<TimelineBucket, kTrackBuckets> buckets{};
    // Width of one bucket, samples: 1 s at first, so that its counts are rates per second
    int64_t bucketSamples = common::kSampleRateHz;
};

// The bucket that counts the frames and errors at sample `at` (never decreasing).
TimelineBucket& TimelineAt(Timeline& timeline, int64_t at);

}  // namespace analyze
