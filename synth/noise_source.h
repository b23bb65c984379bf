// Deterministic pseudo-random numbers for the synthesizer, written out rather than taken from
// <random>, whose distributions differ between standard libraries: a seed must give the same
// payload and noise everywhere, so a failing signal can be reproduced from its seed.
// Threads: a NoiseSource belongs to one caller.
#pragma once

#include <cstdint>

namespace synth {

struct NoiseSource {
    // xoshiro256** state, never all zero once seeded
    uint64_t s[4] = {};
    // The polar method yields normal values in pairs; the second waits here.
    double spareGaussian = 0.0;
    bool hasSpare = false;
};

// splitmix64: advances `state` and returns its next output; expands a seed into a full state.
uint64_t SplitMix64(uint64_t& state);

// Seeds the stream from any 64-bit value (0 included).
void SeedNoise(NoiseSource& source, uint64_t seed);

// Uniform integer in [0, bound), bound >= 1, without modulo bias.
uint32_t NextBelow(NoiseSource& source, uint32_t bound);

// Standard normal value (mean 0, standard deviation 1), through std::log and std::sqrt only.
double NextGaussian(NoiseSource& source);

}  // namespace synth
