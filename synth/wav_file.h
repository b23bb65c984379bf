// The synthesizer's output forms: a RIFF/WAVE file (16-bit PCM, mono, 44 100 Hz, the format the
// capture side records, so a file plays straight into a sound input) and raw s16le samples.
// No shared state.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace synth {

// Samples as little-endian bytes, two per sample.
std::vector<uint8_t> SamplesToBytes(const std::vector<int16_t>& samples);

// Writes the samples without a header to an open binary stream and flushes it. Returns false on a
// write error.
bool WriteRaw(std::FILE* out, const std::vector<int16_t>& samples);

// Creates (or replaces) `path` and writes a WAV file. On failure returns false, leaves the reason
// in `error` and removes the partial file.
bool WriteWavFile(const std::string& path, const std::vector<int16_t>& samples, std::string& error);

}  // namespace synth
