#include "synth/noise_source.h"

#include <bit>
#include <cmath>

namespace synth {

namespace {

uint64_t NextU64(NoiseSource& source) {
    uint64_t* s = source.s;
    const uint64_t result = std::rotl(s[1] * 5, 7) * 9;
    const uint64_t t = s[1] << 17;
    s[2] ^= s[0];
    s[3] ^= s[1];
    s[1] ^= s[2];
    s[0] ^= s[3];
    s[2] ^= t;
    s[3] = std::rotl(s[3], 45);
    return result;
}

// Uniform in [0, 1) with 53 random bits.
double NextUniform(NoiseSource& source) {
    return static_cast<double>(NextU64(source) >> 11) * 0x1.0p-53;
}

}  // namespace

uint64_t SplitMix64(uint64_t& state) {
    state += 0x9E3779B97F4A7C15ull;
    uint64_t z = state;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

void SeedNoise(NoiseSource& source, uint64_t seed) {
    // splitmix64 never yields four zero words in a row, so the xoshiro state is always valid.
    uint64_t state = seed;
    for (uint64_t& word : source.s) word = SplitMix64(state);
    source.spareGaussian = 0.0;
    source.hasSpare = false;
}

uint32_t NextBelow(NoiseSource& source, uint32_t bound) {
    // Draws from the top 32 bits; values in the incomplete last interval are redrawn.
    const uint32_t limit = UINT32_MAX - UINT32_MAX % bound;
    for (;;) {
        const auto x = static_cast<uint32_t>(NextU64(source) >> 32);
        if (x < limit) return x % bound;
    }
}

double NextGaussian(NoiseSource& source) {
    if (source.hasSpare) {
        source.hasSpare = false;
        return source.spareGaussian;
    }
    // Polar method: a point uniform in the unit disc (origin excluded) gives two independent
    // normal values without any trigonometric function.
    double u = 0.0;
    double v = 0.0;
    double r2 = 0.0;
    do {
        u = 2.0 * NextUniform(source) - 1.0;
        v = 2.0 * NextUniform(source) - 1.0;
        r2 = u * u + v * v;
    } while (r2 >= 1.0 || r2 == 0.0);
    const double scale = std::sqrt(-2.0 * std::log(r2) / r2);
    source.spareGaussian = v * scale;
    source.hasSpare = true;
    return u * scale;
}

}  // namespace synth
