#include "synth/wav_file.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "synth/signal_synth.h"

namespace synth {

namespace {

constexpr uint16_t kFormatPcm = 1;
constexpr uint16_t kChannels = 1;
constexpr uint16_t kBitsPerSample = 16;
constexpr uint16_t kBlockAlign = kChannels * kBitsPerSample / 8;
constexpr uint32_t kFmtChunkBytes = 16;

// Samples go out in blocks so a long signal never needs a second full-size copy in memory.
constexpr size_t kBlockSamples = 8192;

void Put16(uint8_t* at, uint16_t v) {
    at[0] = static_cast<uint8_t>(v & 0xFF);
    at[1] = static_cast<uint8_t>(v >> 8);
}

void Put32(uint8_t* at, uint32_t v) {
    for (int i = 0; i < 4; ++i) at[i] = static_cast<uint8_t>((v >> (8 * i)) & 0xFF);
}

bool WriteSamples(std::FILE* out, const std::vector<int16_t>& samples) {
    uint8_t block[2 * kBlockSamples];
    for (size_t at = 0; at < samples.size(); at += kBlockSamples) {
        const size_t n = std::min(kBlockSamples, samples.size() - at);
        for (size_t i = 0; i < n; ++i) Put16(block + 2 * i, static_cast<uint16_t>(samples[at + i]));
        if (std::fwrite(block, 1, 2 * n, out) != 2 * n) return false;
    }
    return true;
}

}  // namespace

std::array<uint8_t, kWavHeaderBytes> WavHeader(uint64_t sampleCount) {
    const auto dataBytes = static_cast<uint32_t>(sampleCount * kBlockAlign);
    std::array<uint8_t, kWavHeaderBytes> h{};
    std::memcpy(&h[0], "RIFF", 4);
    Put32(&h[4], 36 + dataBytes);  // everything after this field
    std::memcpy(&h[8], "WAVE", 4);
    std::memcpy(&h[12], "fmt ", 4);
    Put32(&h[16], kFmtChunkBytes);
    Put16(&h[20], kFormatPcm);
    Put16(&h[22], kChannels);
    Put32(&h[24], kSampleRateHz);
    Put32(&h[28], kSampleRateHz * kBlockAlign);  // bytes per second
    Put16(&h[32], kBlockAlign);
    Put16(&h[34], kBitsPerSample);
    std::memcpy(&h[36], "data", 4);
    Put32(&h[40], dataBytes);
    return h;
}

std::vector<uint8_t> SamplesToBytes(const std::vector<int16_t>& samples) {
    std::vector<uint8_t> bytes(2 * samples.size());
    for (size_t i = 0; i < samples.size(); ++i)
        Put16(&bytes[2 * i], static_cast<uint16_t>(samples[i]));
    return bytes;
}

bool WriteWav(std::FILE* out, const std::vector<int16_t>& samples) {
    if (samples.size() > kMaxWavSamples) return false;
    const auto header = WavHeader(samples.size());
    if (std::fwrite(header.data(), 1, header.size(), out) != header.size()) return false;
    return WriteSamples(out, samples);
}

bool WriteRaw(std::FILE* out, const std::vector<int16_t>& samples) {
    return WriteSamples(out, samples) && std::fflush(out) == 0;
}

bool WriteWavFile(const std::string& path, const std::vector<int16_t>& samples,
                  std::string& error) {
    if (samples.size() > kMaxWavSamples) {
        error = "too many samples for a WAV file";
        return false;
    }
    std::FILE* out = std::fopen(path.c_str(), "wb");
    if (out == nullptr) {
        error = std::strerror(errno);
        return false;
    }
    const bool written = WriteWav(out, samples);
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
