#include "analyze/tracks.h"

#include <algorithm>

namespace analyze {

namespace {

Pos1Bucket Merged(const Pos1Bucket& a, const Pos1Bucket& b) {
    if (!a.used || !b.used) return a.used ? a : b;
    return Pos1Bucket{std::min(a.low, b.low), std::max(a.high, b.high), true};
}

TimelineBucket Merged(const TimelineBucket& a, const TimelineBucket& b) {
    return TimelineBucket{a.frames + b.frames, a.errors + b.errors};
}

// The bucket that holds sample `at`, after doubling the width of the buckets (merging pairs of
// neighbours) as often as it takes for `at` to fall inside them.
template <typename Track>
auto& BucketAt(Track& track, int64_t at) {
    using Bucket = typename decltype(track.buckets)::value_type;
    while (at / track.bucketSamples >= kTrackBuckets) {
        for (size_t i = 0; i < kTrackBuckets / 2; ++i)
            track.buckets[i] = Merged(track.buckets[2 * i], track.buckets[2 * i + 1]);
        std::fill(track.buckets.begin() + kTrackBuckets / 2, track.buckets.end(), Bucket{});
        track.bucketSamples *= 2;
    }
    return track.buckets[static_cast<size_t>(at / track.bucketSamples)];
}

}  // namespace

void AddPos1(Pos1Track& track, int64_t at, int32_t value) {
    const auto v = static_cast<int16_t>(value);  // Pos1 is 10 bits
    Pos1Bucket& bucket = BucketAt(track, at);
    bucket = Merged(bucket, Pos1Bucket{v, v, true});
}

TimelineBucket& TimelineAt(Timeline& timeline, int64_t at) {
    return BucketAt(timeline, at);
}

}  // namespace analyze
