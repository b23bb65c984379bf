// Deterministic pseudo-random numbers for the synthesizer: splitmix64 to expand a 64-bit seed,
// xoshiro256** for the stream, and the polar form of Box-Muller for Gaussian noise.
//
// The generators are written out here rather than taken from <random> because the standard's
// distributions are implementation-defined: the same seed must give the same payload and the same
// noise with every compiler and standard library, so that a failing signal can be reproduced
// anywhere from its seed. Gaussian values go through std::log and std::sqrt only.
//
// Threads: a NoiseSource belongs to one caller; no shared state.
#pragma once

#include <cstdint>

namespace synth {

struct NoiseSource {
    uint64_t s[4] = {};          // xoshiro256** state, never all zero once seeded
    double spareGaussian = 0.0;  // the polar method yields pairs; the second waits here
    bool hasSpare = false;
};

// Advances a splitmix64 state and returns its next output.
uint64_t SplitMix64(uint64_t& state);

// Seeds the stream from any 64-bit value (0 included).
void SeedNoise(NoiseSource& source, uint64_t seed);

uint64_t NextU64(NoiseSource& source);

// Uniform integer in [0, bound), bound >= 1. Unbiased (rejection of the short last interval).
uint32_t NextBelow(NoiseSource& source, uint32_t bound);

// Uniform double in [0, 1) with 53 random bits.
double NextUniform(NoiseSource& source);

// Standard normal value (mean 0, standard deviation 1).
double NextGaussian(NoiseSource& source);

}  // namespace synth
