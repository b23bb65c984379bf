#include "synth/wav_file.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>

#include "common/little_endian.h"
#include "common/signal_format.h"

namespace synth {

namespace {

using common::EncodeLe16;
using common::EncodeLe32;

constexpr size_t kHeaderBytes = 44;
// Bytes per sample frame: one channel of 16 bits.
constexpr uint16_t kBlockAlign = 2;
// The RIFF size field counts the 36 header bytes after it plus the data; both are 32-bit.
constexpr uint64_t kMaxSamples = (0xFFFFFFFFull - 36) / kBlockAlign;
// Samples go out in blocks so a long signal never needs a second full-size copy in memory.
constexpr size_t kBlockSamples = 8192;

std::array<uint8_t, kHeaderBytes> WavHeader(uint64_t sampleCount) {
    const auto dataBytes = static_cast<uint32_t>(sampleCount * kBlockAlign);
    std::array<uint8_t, kHeaderBytes> h{};
    std::memcpy(&h[0], "RIFF", 4);
    EncodeLe32(36 + dataBytes, &h[4]);
    std::memcpy(&h[8], "WAVEfmt ", 8);
    EncodeLe32(16, &h[16]);  // fmt chunk size
    EncodeLe16(1, &h[20]);   // PCM
    EncodeLe16(1, &h[22]);   // channels
    EncodeLe32(common::kSampleRateHz, &h[24]);
    EncodeLe32(common::kSampleRateHz * kBlockAlign, &h[28]);  // bytes per second
    EncodeLe16(kBlockAlign, &h[32]);
    EncodeLe16(16, &h[34]);  // bits per sample
    std::memcpy(&h[36], "data", 4);
    EncodeLe32(dataBytes, &h[40]);
    return h;
}

bool WriteSamples(std::FILE* out, const std::vector<int16_t>& samples) {
    uint8_t block[2 * kBlockSamples];
    for (size_t at = 0; at < samples.size(); at += kBlockSamples) {
        const size_t n = std::min(kBlockSamples, samples.size() - at);
        for (size_t i = 0; i < n; ++i)
            EncodeLe16(static_cast<uint16_t>(samples[at + i]), block + 2 * i);
        if (std::fwrite(block, 1, 2 * n, out) != 2 * n) return false;
    }
    return true;
}

}  // namespace

std::vector<uint8_t> SamplesToBytes(const std::vector<int16_t>& samples) {
    std::vector<uint8_t> bytes(2 * samples.size());
    for (size_t i = 0; i < samples.size(); ++i)
        EncodeLe16(static_cast<uint16_t>(samples[i]), &bytes[2 * i]);
    return bytes;
}

bool WriteRaw(std::FILE* out, const std::vector<int16_t>& samples) {
    return WriteSamples(out, samples) && std::fflush(out) == 0;
}

bool WriteWavFile(const std::string& path, const std::vector<int16_t>& samples,
                  std::string& error) {
    if (samples.size() > kMaxSamples) {
        error = "too many samples for a WAV file";
        return false;
    }
    std::FILE* out = std::fopen(path.c_str(), "wb");
    if (out == nullptr) {
        error = std::strerror(errno);
        return false;
    }
    const auto header = WavHeader(samples.size());
    const bool written = std::fwrite(header.data(), 1, header.size(), out) == header.size() &&
                         WriteSamples(out, samples);
    const int writeErrno = errno;
    // fclose flushes: a full disk may only show here.
    const bool closed = std::fclose(out) == 0;
    if (!written || !closed) {
        error = std::strerror(written ? errno : writeErrno);
        std::remove(path.c_str());
        return false;
    }
    return true;
}

}  // namespace synth
