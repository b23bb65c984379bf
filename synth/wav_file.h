// RIFF/WAVE output of the synthesizer: 16-bit PCM, mono, 44 100 Hz, the format the capture side
// records, so a file can be played straight into a sound input. Also the raw s16le byte form for
// piping into a player.
//
// Every multi-byte field is written little-endian byte by byte, whatever the host's byte order.
// Pure functions plus one that writes a file; no shared state.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace synth {

inline constexpr size_t kWavHeaderBytes = 44;

// The largest sample count whose file sizes still fit the 32-bit RIFF fields.
inline constexpr uint64_t kMaxWavSamples = (0xFFFFFFFFull - 36) / 2;

// The 44-byte canonical header for `sampleCount` samples (at most kMaxWavSamples).
std::array<uint8_t, kWavHeaderBytes> WavHeader(uint64_t sampleCount);

// Samples as little-endian bytes, two per sample.
std::vector<uint8_t> SamplesToBytes(const std::vector<int16_t>& samples);

// Writes header and samples to an open binary stream. Returns false on a write error or when the
// samples do not fit a WAV file.
bool WriteWav(std::FILE* out, const std::vector<int16_t>& samples);

// Writes the samples without a header. Returns false on a write error.
bool WriteRaw(std::FILE* out, const std::vector<int16_t>& samples);

// Creates (or replaces) `path` and writes a WAV file. On failure returns false and leaves the
// reason in `error`.
bool WriteWavFile(const std::string& path, const std::vector<int16_t>& samples, std::string& error);

}  // namespace synth
