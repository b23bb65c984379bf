#include "analyze/input_reader.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace {

constexpr size_t kEntryBytes = 4;
constexpr size_t kRiffHeaderBytes = 12;  // "RIFF", size of the rest, "WAVE"
constexpr size_t kChunkHeaderBytes = 8;  // id, size
constexpr uint32_t kFmtMinBytes = 16;
// WAVE_FORMAT_EXTENSIBLE keeps the real format code in the first two bytes of its sub-format GUID,
// 24 bytes into a fmt chunk of at least 40 bytes.
constexpr uint32_t kFmtExtensibleBytes = 40;
constexpr size_t kSubFormatOffset = 24;
constexpr uint16_t kFormatPcm = 1;
constexpr uint16_t kFormatExtensible = 0xFFFE;

constexpr uint16_t kWantedChannels = 1;
constexpr uint32_t kWantedRate = kSampleRateHz;
constexpr uint16_t kWantedBits = 16;
constexpr uint16_t kWantedBlockAlign = 2;

uint16_t U16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
uint32_t U32(const uint8_t* p) {
    return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}

// A chunk id for a message: printable ASCII kept, anything else shown as '?'.
std::string ChunkName(const uint8_t* id) {
    std::string name = "'";
    for (int i = 0; i < 4; ++i)
        name += (id[i] >= 0x20 && id[i] < 0x7F) ? static_cast<char>(id[i]) : '?';
    return name + "'";
}

bool Fail(InputReader& reader, std::string message) {
    reader.error = std::move(message);
    return false;
}

// Reads exactly `count` bytes; a short read is reported as the file ending early.
bool ReadExactly(InputReader& reader, void* into, size_t count, const char* what) {
    if (std::fread(into, 1, count, reader.file) == count) return true;
    if (std::ferror(reader.file)) return Fail(reader, std::string("read error in ") + what);
    return Fail(reader, std::string("truncated: the file ends inside ") + what);
}

// Skips by reading rather than seeking: a 32-bit `long` offset (Windows) cannot seek past 2 GB.
bool SkipBytes(InputReader& reader, uint64_t count, const char* what) {
    std::array<uint8_t, 4096> scratch{};
    while (count > 0) {
        const size_t step = static_cast<size_t>(std::min<uint64_t>(count, scratch.size()));
        if (!ReadExactly(reader, scratch.data(), step, what)) return false;
        count -= step;
    }
    return true;
}

// Other files that end up where a recording is expected; a run log can never begin with these
// bytes in practice (each would be a first run of more than seven hours).
struct ForeignMagic {
    const char* magic;
    const char* name;
};
constexpr ForeignMagic kForeign[] = {
    {"RIFX", "a big-endian RIFF (RIFX) file"},
    {"RF64", "an RF64 (64-bit WAV) file"},
    {"fLaC", "FLAC audio"},
    {"OggS", "an Ogg file"},
    {"ID3", "MP3 audio"},
    {"FORM", "an AIFF/IFF file"},
};

bool ReadFmtChunk(InputReader& reader, uint32_t size, WavFormat& format) {
    if (size < kFmtMinBytes)
        return Fail(reader, "fmt chunk of " + std::to_string(size) + " bytes is too short");
    std::array<uint8_t, kFmtExtensibleBytes> fmt{};
    const uint32_t kept = std::min<uint32_t>(size, kFmtExtensibleBytes);
    if (!ReadExactly(reader, fmt.data(), kept, "the fmt chunk")) return false;
    if (!SkipBytes(reader, uint64_t{size - kept} + (size & 1u), "the fmt chunk")) return false;
    format.formatTag = U16(&fmt[0]);
    format.channels = U16(&fmt[2]);
    format.sampleRate = U32(&fmt[4]);
    format.blockAlign = U16(&fmt[12]);
    format.bitsPerSample = U16(&fmt[14]);
    if (format.formatTag == kFormatExtensible && size >= kFmtExtensibleBytes) {
        format.formatTag = U16(&fmt[kSubFormatOffset]);
    }
    return true;
}

bool CheckFormat(InputReader& reader, const WavFormat& f) {
    if (f.formatTag != kFormatPcm || f.channels != kWantedChannels || f.sampleRate != kWantedRate ||
        f.bitsPerSample != kWantedBits) {
        return Fail(reader, "WAV recording of " + DescribeWavFormat(f) +
                                "; only 16-bit PCM, mono, 44100 Hz can be analysed");
    }
    if (f.blockAlign != kWantedBlockAlign) {
        return Fail(reader, "inconsistent fmt chunk: block align " + std::to_string(f.blockAlign) +
                                " for 16-bit mono samples (should be 2)");
    }
    return true;
}

// Walks the chunks after the RIFF header up to the data chunk, skipping any it does not need.
bool OpenWav(InputReader& reader) {
    uint64_t at = kRiffHeaderBytes;
    bool haveFormat = false;
    WavFormat format;
    for (;;) {
        if (reader.fileBytes - at < kChunkHeaderBytes) {
            return Fail(reader, at == reader.fileBytes
                                    ? "no data chunk: the WAV file holds no samples"
                                    : "truncated: the file ends inside a chunk header");
        }
        std::array<uint8_t, kChunkHeaderBytes> header{};
        if (!ReadExactly(reader, header.data(), header.size(), "a chunk header")) return false;
        at += kChunkHeaderBytes;
        const uint32_t size = U32(&header[4]);
        const uint64_t follows = reader.fileBytes - at;
        if (std::memcmp(header.data(), "data", 4) == 0) {
            if (!haveFormat) return Fail(reader, "the data chunk comes before any fmt chunk");
            if (!CheckFormat(reader, format)) return false;
            if (size > follows) {
                return Fail(reader, "truncated: the data chunk declares " + std::to_string(size) +
                                        " bytes but only " + std::to_string(follows) + " follow");
            }
            reader.format = format;
            reader.bytesLeft = size & ~uint32_t{1};  // a lone last byte is no sample
            return true;
        }
        const uint64_t padded = uint64_t{size} + (size & 1u);  // chunks are padded to an even size
        if (padded > follows) {
            return Fail(reader, "truncated: chunk " + ChunkName(header.data()) + " declares " +
                                    std::to_string(size) + " bytes but only " +
                                    std::to_string(follows) + " follow");
        }
        if (std::memcmp(header.data(), "fmt ", 4) == 0) {
            if (!ReadFmtChunk(reader, size, format)) return false;
            haveFormat = true;
        } else if (!SkipBytes(reader, padded, "a chunk")) {
            return false;
        }
        at += padded;
    }
}

bool Classify(InputReader& reader) {
    std::array<uint8_t, kRiffHeaderBytes> head{};
    const size_t got = std::fread(head.data(), 1, head.size(), reader.file);
    if (got < head.size() && std::ferror(reader.file)) return Fail(reader, "read error");
    const auto startsWith = [&](const char* magic) {
        const size_t n = std::strlen(magic);
        return got >= n && std::memcmp(head.data(), magic, n) == 0;
    };
    if (startsWith("RIFF")) {
        if (got < kRiffHeaderBytes) return Fail(reader, "truncated: the RIFF header is cut short");
        if (std::memcmp(&head[8], "WAVE", 4) != 0) {
            return Fail(reader,
                        "a RIFF file of form " + ChunkName(&head[8]) + ", not a WAV recording");
        }
        reader.kind = InputKind::Wav;
        return OpenWav(reader);
    }
    for (const ForeignMagic& foreign : kForeign) {
        if (startsWith(foreign.magic)) {
            return Fail(reader,
                        std::string(foreign.name) +
                            ", neither a run log nor a 16-bit PCM mono 44100 Hz WAV recording");
        }
    }
    reader.kind = InputKind::RunLog;
    if (reader.fileBytes % kEntryBytes != 0) {
        return Fail(reader, "size of " + std::to_string(reader.fileBytes) +
                                " bytes is not a multiple of 4: not a run log of 32-bit entries, "
                                "or one cut short");
    }
    std::rewind(reader.file);
    reader.bytesLeft = reader.fileBytes;
    return true;
}

}  // namespace

bool OpenInput(InputReader& reader, const char* path) {
    reader = InputReader{};
    std::error_code ec;
    const std::filesystem::path fsPath(path);
    if (!std::filesystem::exists(fsPath, ec)) return Fail(reader, "no such file");
    if (!std::filesystem::is_regular_file(fsPath, ec)) return Fail(reader, "not a regular file");
    const uintmax_t size = std::filesystem::file_size(fsPath, ec);
    if (ec) return Fail(reader, "cannot tell its size: " + ec.message());
    reader.file = std::fopen(path, "rb");
    if (reader.file == nullptr) return Fail(reader, "cannot open it for reading");
    reader.fileBytes = size;
    if (!Classify(reader)) {
        CloseInput(reader);
        return false;
    }
    return true;
}

int64_t ReadLogRuns(InputReader& reader, int32_t* runs, size_t capacity) {
    constexpr size_t kBlockEntries = 4096;
    std::array<uint8_t, kBlockEntries * kEntryBytes> block{};
    size_t out = 0;
    while (out < capacity && reader.bytesLeft > 0) {
        const size_t entries = static_cast<size_t>(
            std::min<uint64_t>({capacity - out, kBlockEntries, reader.bytesLeft / kEntryBytes}));
        if (!ReadExactly(reader, block.data(), entries * kEntryBytes, "the run log")) return -1;
        reader.bytesLeft -= entries * kEntryBytes;
        for (size_t i = 0; i < entries; ++i) {
            const auto value = static_cast<int32_t>(U32(&block[i * kEntryBytes]));
            const int64_t index = reader.entriesRead++;
            if (value < 0) {
                reader.error = "entry " + std::to_string(index) + " is negative (" +
                               std::to_string(value) + "): not a run log";
                return -1;
            }
            if (value == 0) {
                ++reader.pendingZeros;
                continue;
            }
            if (reader.pendingZeros > 0) {
                reader.error =
                    "entry " + std::to_string(index - reader.pendingZeros) +
                    " is 0 but runs follow it: a run is at least one sample long, so this "
                    "is no intact run log";
                return -1;
            }
            runs[out++] = value;
        }
    }
    return static_cast<int64_t>(out);
}

int64_t ReadWavBytes(InputReader& reader, uint8_t* bytes, size_t capacity) {
    const size_t count =
        static_cast<size_t>(std::min<uint64_t>(capacity & ~size_t{1}, reader.bytesLeft));
    if (count == 0) return 0;
    if (!ReadExactly(reader, bytes, count, "the data chunk")) return -1;
    reader.bytesLeft -= count;
    return static_cast<int64_t>(count);
}

void CloseInput(InputReader& reader) {
    if (reader.file != nullptr) std::fclose(reader.file);
    reader.file = nullptr;
}

std::string DescribeWavFormat(const WavFormat& format) {
    std::string encoding;
    switch (format.formatTag) {
        case 1:
            encoding = "PCM";
            break;
        case 2:
            encoding = "MS ADPCM";
            break;
        case 3:
            encoding = "IEEE float";
            break;
        case 6:
            encoding = "A-law";
            break;
        case 7:
            encoding = "mu-law";
            break;
        case 0x11:
            encoding = "IMA ADPCM";
            break;
        case 0x55:
            encoding = "MPEG layer 3";
            break;
        case kFormatExtensible:
            encoding = "extensible format without a sub-format";
            break;
        default: {
            char code[16];
            std::snprintf(code, sizeof code, "format 0x%04X",
                          static_cast<unsigned>(format.formatTag));
            encoding = code;
        }
    }
    std::string channels = format.channels == 1   ? "mono"
                           : format.channels == 2 ? "stereo"
                                                  : std::to_string(format.channels) + " channels";
    return std::to_string(format.bitsPerSample) + "-bit " + encoding + ", " + channels + ", " +
           std::to_string(format.sampleRate) + " Hz";
}
