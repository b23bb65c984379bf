#include "analyze/input_reader.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "analyze/file_access.h"

namespace {

constexpr size_t kEntryBytes = 4;
constexpr size_t kRiffHeaderBytes = 12;  // "RIFF", size of the rest, "WAVE"
static_assert(kRiffHeaderBytes == kInputHeadBytes, "classifying reads the RIFF header");
constexpr size_t kChunkHeaderBytes = 8;  // id, size
constexpr uint32_t kFmtMinBytes = 16;
// WAVE_FORMAT_EXTENSIBLE keeps the real format code in the first two bytes of its sub-format GUID,
// 24 bytes into a fmt chunk of at least 40 bytes.
constexpr uint32_t kFmtExtensibleBytes = 40;
constexpr size_t kSubFormatOffset = 24;
constexpr uint16_t kFormatExtensible = 0xFFFE;

// Data chunk lengths that a recorder writing to a pipe leaves, not knowing the length.
constexpr uint32_t kLengthUnknown = 0;
constexpr uint32_t kLengthUnknownAllOnes = 0xFFFFFFFF;

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

std::string Reason(int errorNumber) {
    return std::strerror(errorNumber != 0 ? errorNumber : EIO);
}

// Reads up to `count` bytes, those read while classifying first. Fewer only at the end of the
// input or on a read error.
size_t Take(InputReader& reader, void* into, size_t count) {
    auto* out = static_cast<uint8_t*>(into);
    const size_t fromHead = std::min(count, reader.headTo - reader.headFrom);
    std::memcpy(out, reader.head.data() + reader.headFrom, fromHead);
    reader.headFrom += fromHead;
    size_t got = fromHead;
    if (got < count) {
        errno = 0;
        const size_t read = std::fread(out + got, 1, count - got, reader.file);
        reader.bytesTaken += read;
        got += read;
    }
    return got;
}

// Reads exactly `count` bytes; a short read is reported as the input ending early.
bool ReadExactly(InputReader& reader, void* into, size_t count, const char* what) {
    if (Take(reader, into, count) == count) return true;
    if (std::ferror(reader.file)) {
        return Fail(reader, std::string("read error in ") + what + ": " + Reason(errno));
    }
    return Fail(reader, std::string("truncated: the input ends inside ") + what);
}

// Skips by reading rather than seeking: a pipe cannot seek, nor can a 32-bit `long` offset
// (Windows) reach past 2 GB.
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
    if (size < kFmtMinBytes) {
        return Fail(reader, "fmt chunk of " + std::to_string(size) + " byte" +
                                (size == 1 ? "" : "s") + " is too short");
    }
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
    if (f.formatTag != kAnalysedFormat.formatTag || f.channels != kAnalysedFormat.channels ||
        f.sampleRate != kAnalysedFormat.sampleRate ||
        f.bitsPerSample != kAnalysedFormat.bitsPerSample) {
        return Fail(reader, "WAV recording of " + DescribeWavFormat(f) + "; only " +
                                DescribeWavFormat(kAnalysedFormat) + " can be analysed");
    }
    if (f.blockAlign != kAnalysedFormat.blockAlign) {
        return Fail(reader, "inconsistent fmt chunk: block align " + std::to_string(f.blockAlign) +
                                " for 16-bit mono samples (should be 2)");
    }
    return true;
}

std::string Bytes(uint64_t count) {
    return std::to_string(count) + (count == 1 ? " byte" : " bytes");
}

// Walks the chunks after the RIFF header up to the data chunk, skipping any it does not need.
// `at` counts the bytes of the input read so far; only a file of known size can be checked
// against what follows.
bool OpenWav(InputReader& reader) {
    uint64_t at = kRiffHeaderBytes;
    bool haveFormat = false;
    WavFormat format;
    for (;;) {
        std::array<uint8_t, kChunkHeaderBytes> header{};
        const size_t got = Take(reader, header.data(), header.size());
        if (got < header.size()) {
            if (std::ferror(reader.file)) {
                return Fail(reader, "read error in a chunk header: " + Reason(errno));
            }
            return Fail(reader, got == 0 ? "no data chunk: the WAV recording holds no samples"
                                         : "truncated: the input ends inside a chunk header");
        }
        at += kChunkHeaderBytes;
        const uint32_t size = U32(&header[4]);
        const uint64_t follows = reader.sizeKnown ? reader.fileBytes - at : UINT64_MAX;
        if (std::memcmp(header.data(), "data", 4) == 0) {
            if (!haveFormat) return Fail(reader, "the data chunk comes before any fmt chunk");
            if (!CheckFormat(reader, format)) return false;
            reader.format = format;
            reader.toTheEnd = size == kLengthUnknown || size == kLengthUnknownAllOnes;
            if (!reader.toTheEnd && size > follows) {
                return Fail(reader, "truncated: the data chunk declares " + Bytes(size) +
                                        " but only " + std::to_string(follows) + " follow");
            }
            reader.bytesLeft = size & ~uint32_t{1};  // a lone last byte is no sample
            return true;
        }
        const uint64_t padded = uint64_t{size} + (size & 1u);  // chunks are padded to an even size
        if (padded > follows) {
            return Fail(reader, "truncated: chunk " + ChunkName(header.data()) + " declares " +
                                    Bytes(size) + " but only " + std::to_string(follows) +
                                    " follow");
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

std::string NotMultipleOfFour(uint64_t size) {
    return "size of " + Bytes(size) +
           " is not a multiple of 4: not a run log of 32-bit entries, or one cut short";
}

// Reads the first bytes into `head`, from where Take hands them out again. A regular file of no
// bytes is a log of no runs, as `vorlank L f 0` writes it; a stream that ends before its first byte
// is a writer that never wrote (a recorder that failed to start), which is no recording at all.
bool ReadHead(InputReader& reader) {
    errno = 0;
    const size_t got = std::fread(reader.head.data(), 1, reader.head.size(), reader.file);
    reader.bytesTaken += got;
    reader.headTo = got;
    if (got < reader.head.size() && std::ferror(reader.file)) {
        return Fail(reader, "read error: " + Reason(errno));
    }
    if (got == 0 && !reader.sizeKnown) {
        reader.empty = true;
        return Fail(reader, "empty: the stream ended before its first byte");
    }
    return true;
}

bool Classify(InputReader& reader) {
    const size_t got = reader.headTo;
    const auto startsWith = [&](const char* magic) {
        const size_t n = std::strlen(magic);
        return got >= n && std::memcmp(reader.head.data(), magic, n) == 0;
    };
    if (startsWith("RIFF")) {
        if (got < kRiffHeaderBytes) return Fail(reader, "truncated: the RIFF header is cut short");
        if (std::memcmp(&reader.head[8], "WAVE", 4) != 0) {
            return Fail(reader, "a RIFF file of form " + ChunkName(&reader.head[8]) +
                                    ", not a WAV recording");
        }
        reader.kind = InputKind::Wav;
        reader.headFrom = kRiffHeaderBytes;
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
    reader.toTheEnd = true;
    if (reader.sizeKnown && reader.fileBytes % kEntryBytes != 0) {
        return Fail(reader, NotMultipleOfFour(reader.fileBytes));
    }
    return true;
}

}  // namespace

bool OpenInputStream(InputReader& reader, std::FILE* file, int64_t knownSize, bool raw) {
    reader = InputReader{};
    reader.file = file;
    reader.sizeKnown = knownSize >= 0;
    reader.fileBytes = reader.sizeKnown ? static_cast<uint64_t>(knownSize) : 0;
    if (!ReadHead(reader)) return false;
    if (!raw) return Classify(reader);
    reader.kind = InputKind::Raw;
    reader.format = kAnalysedFormat;
    reader.toTheEnd = true;
    return true;
}

bool OpenInput(InputReader& reader, const char* path, bool raw) {
    if (std::strcmp(path, "-") == 0) {
        if (!SetStdinBinary()) {
            reader = InputReader{};
            return Fail(reader, "cannot switch it to binary mode");
        }
        return OpenInputStream(reader, stdin, -1, raw);
    }
    std::error_code ec;
    const std::filesystem::path fsPath(path);
    if (std::filesystem::is_directory(fsPath, ec)) {
        reader = InputReader{};
        return Fail(reader, "cannot read it: " + Reason(EISDIR));
    }
    errno = 0;
    std::FILE* file = std::fopen(path, "rb");
    if (file == nullptr) {
        reader = InputReader{};
        return Fail(reader, "cannot open it: " + Reason(errno));
    }
    int64_t size = -1;
    if (std::filesystem::is_regular_file(fsPath, ec)) {
        const uintmax_t bytes = std::filesystem::file_size(fsPath, ec);
        if (!ec) size = static_cast<int64_t>(bytes);
    }
    const bool opened = OpenInputStream(reader, file, size, raw);
    reader.ownsFile = true;
    if (!opened) CloseInput(reader);
    return opened;
}

int64_t ReadLogRuns(InputReader& reader, int32_t* runs, size_t capacity) {
    constexpr size_t kBlockEntries = 4096;
    std::array<uint8_t, kBlockEntries * kEntryBytes> block{};
    size_t out = 0;
    while (out < capacity) {
        const size_t want = std::min(capacity - out, kBlockEntries) * kEntryBytes;
        const size_t got = Take(reader, block.data(), want);
        if (got < want && std::ferror(reader.file)) {
            reader.error = "read error in the run log: " + Reason(errno);
            return -1;
        }
        for (size_t i = 0; i + kEntryBytes <= got; i += kEntryBytes) {
            const auto value = static_cast<int32_t>(U32(&block[i]));
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
        if (got < want) {
            // The end of the input: a stream shows only here whether it held whole entries.
            if (got % kEntryBytes != 0) {
                reader.error = NotMultipleOfFour(reader.bytesTaken);
                return -1;
            }
            break;
        }
    }
    return static_cast<int64_t>(out);
}

int64_t ReadSampleBytes(InputReader& reader, uint8_t* bytes, size_t capacity) {
    size_t want = capacity & ~size_t{1};
    if (!reader.toTheEnd) want = static_cast<size_t>(std::min<uint64_t>(want, reader.bytesLeft));
    if (want == 0) return 0;
    const size_t got = Take(reader, bytes, want);
    if (got < want && std::ferror(reader.file)) {
        reader.error = "read error in the samples: " + Reason(errno);
        return -1;
    }
    if (!reader.toTheEnd) {
        if (got < want && reader.sizeKnown) {
            reader.error = "truncated: the input ends inside the data chunk";
            return -1;
        }
        // A stream ends where its writer stopped, whatever length its header promised.
        reader.bytesLeft = got < want ? 0 : reader.bytesLeft - got;
    }
    return static_cast<int64_t>(got & ~size_t{1});
}

void CloseInput(InputReader& reader) {
    if (reader.file != nullptr && reader.ownsFile) std::fclose(reader.file);
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
