#include "analyze/recording.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "analyze/file_access.h"
#include "analyze/texts.h"
#include "common/little_endian.h"
#include "common/signal_format.h"

namespace analyze {

namespace {

// One read from libsndfile, all channels: large enough for the C library to read straight into
// our memory. A codec gives back nothing from a read in which it gives up, so its reads stay short.
constexpr size_t kChunkBytes = size_t{128} * 1024;
constexpr size_t kDecodedChunkFrames = 4096;
// The resampler's output per call.
constexpr size_t kResampledChunk = 16384;

// soxr's 16-bit linear-phase recipe keeps the edges in place: a clean signal from 48, 96 or 32 kHz
// gives every run its original length, and noisy edges move as few runs as the costlier recipes.
constexpr unsigned long kResampleQuality = SOXR_MQ;

// libsndfile reads the ByteSource with its length unknown, file or stream: it takes the headers'
// lengths as they are (a file cut short shows as one) and reads as far as the input goes.
sf_count_t VioLength(void* /*user*/) {
    return SF_COUNT_MAX;
}

sf_count_t VioSeek(sf_count_t offset, int whence, void* user) {
    ByteSource& source = *static_cast<RecordingReader*>(user)->source;
    // SEEK_END is refused: the end is not known.
    const sf_count_t target = whence == SEEK_SET   ? offset
                              : whence == SEEK_CUR ? static_cast<sf_count_t>(source.at) + offset
                                                   : -1;
    if (target < 0) return -1;
    source.at = static_cast<uint64_t>(target);
    return target;
}

// A header parser that meets the end of the input stops after a few reads there. Two of
// libsndfile's walk in circles over some malformed headers instead, and are stopped from here:
// - Wave64, over a chunk that declares less than its own 24-byte header, steps back and reads at
//   the end again for ever. After this many reads that found nothing, it is given zeros: a list
//   of empty chunks, which fills its header buffer and ends the walk.
// - 8SVX and 16SV, whose header buffer is full (an end met off the 4-byte grid, then zeros), ask
//   where they are for ever and read nothing. After this many such questions in a row, the answer
//   is the length VioLength gives, where a header walk stops as at the end of its input.
// Either way the open that follows is refused.
constexpr int kEmptyReadsInCircles = 4096;
constexpr int kTellsInCircles = 65536;

bool InCircles(const RecordingReader& reader) {
    return reader.emptyReads > kEmptyReadsInCircles || reader.tellsUnread > kTellsInCircles;
}

sf_count_t VioRead(void* into, sf_count_t count, void* user) {
    auto& reader = *static_cast<RecordingReader*>(user);
    reader.tellsUnread = 0;
    if (count <= 0) return 0;
    const size_t got = ReadBytes(*reader.source, into, static_cast<size_t>(count));
    if (got > 0 || !reader.opening || ++reader.emptyReads <= kEmptyReadsInCircles) {
        return static_cast<sf_count_t>(got);
    }
    std::memset(into, 0, static_cast<size_t>(count));
    return count;
}

sf_count_t VioTell(void* user) {
    auto& reader = *static_cast<RecordingReader*>(user);
    if (reader.opening && ++reader.tellsUnread > kTellsInCircles) return VioLength(user);
    return static_cast<sf_count_t>(reader.source->at);
}

struct ContainerName {
    int container;
    const char* kind;
    const char* name;
};

constexpr ContainerName kContainers[] = {
    {SF_FORMAT_WAV, "wav", "WAV recording"},    {SF_FORMAT_WAVEX, "wav", "WAV recording"},
    {SF_FORMAT_RF64, "rf64", "RF64 recording"}, {SF_FORMAT_W64, "w64", "W64 recording"},
    {SF_FORMAT_AIFF, "aiff", "AIFF recording"}, {SF_FORMAT_CAF, "caf", "CAF recording"},
    {SF_FORMAT_FLAC, "flac", "FLAC recording"}, {SF_FORMAT_OGG, "ogg", "Ogg recording"},
    {SF_FORMAT_MPEG, "mp3", "MP3 recording"},   {SF_FORMAT_AU, "au", "AU recording"},
    {SF_FORMAT_RAW, "raw", "raw samples"},
};

// `shorts`: an integer encoding of at most 16 bits, whose shorts are its exact values.
// `sampleBytes`: bytes a sample takes in the input; 0 for a codec that decodes in frames.
struct EncodingName {
    int subtype;
    const char* name;
    bool shorts;
    size_t sampleBytes;
};

constexpr EncodingName kEncodings[] = {
    {SF_FORMAT_PCM_S8, "8-bit PCM", true, 1},
    {SF_FORMAT_PCM_U8, "8-bit PCM", true, 1},
    {SF_FORMAT_PCM_16, "16-bit PCM", true, 2},
    {SF_FORMAT_PCM_24, "24-bit PCM", false, 3},
    {SF_FORMAT_PCM_32, "32-bit PCM", false, 4},
    {SF_FORMAT_FLOAT, "32-bit float", false, 4},
    {SF_FORMAT_DOUBLE, "64-bit float", false, 8},
    {SF_FORMAT_ULAW, "mu-law", true, 1},
    {SF_FORMAT_ALAW, "A-law", true, 1},
    {SF_FORMAT_IMA_ADPCM, "IMA ADPCM", true, 0},
    {SF_FORMAT_MS_ADPCM, "MS ADPCM", true, 0},
    {SF_FORMAT_GSM610, "GSM 6.10", true, 0},
    {SF_FORMAT_ALAC_16, "16-bit ALAC", true, 0},
    {SF_FORMAT_ALAC_20, "20-bit ALAC", false, 0},
    {SF_FORMAT_ALAC_24, "24-bit ALAC", false, 0},
    {SF_FORMAT_ALAC_32, "32-bit ALAC", false, 0},
    {SF_FORMAT_VORBIS, "Vorbis", false, 0},
    {SF_FORMAT_OPUS, "Opus", false, 0},
    {SF_FORMAT_MPEG_LAYER_I, "MPEG layer I", false, 0},
    {SF_FORMAT_MPEG_LAYER_II, "MPEG layer II", false, 0},
    {SF_FORMAT_MPEG_LAYER_III, "MPEG layer III", false, 0},
};

// libsndfile's own name of a container or an encoding, for those the tables above lack.
SF_FORMAT_INFO FormatInfo(int format) {
    SF_FORMAT_INFO info{};
    info.format = format;
    if (sf_command(nullptr, SFC_GET_FORMAT_INFO, &info, sizeof info) != 0 || info.name == nullptr) {
        info.name = "unknown";
        info.extension = "";
    }
    return info;
}

void Describe(RecordingReader& reader, const SF_INFO& info, int32_t channel) {
    AudioDescription& d = reader.description;
    const int container = info.format & SF_FORMAT_TYPEMASK;
    const int subtype = info.format & SF_FORMAT_SUBMASK;
    const auto* c = std::find_if(std::begin(kContainers), std::end(kContainers),
                                 [&](const ContainerName& n) { return n.container == container; });
    if (c != std::end(kContainers)) {
        d.kind = c->kind;
        d.container = c->name;
    } else {
        const SF_FORMAT_INFO named = FormatInfo(container);
        d.kind = named.extension != nullptr ? named.extension : "";
        d.container = std::string(named.name) + " recording";
    }
    const auto* e = std::find_if(std::begin(kEncodings), std::end(kEncodings),
                                 [&](const EncodingName& n) { return n.subtype == subtype; });
    d.encoding = e != std::end(kEncodings) ? e->name : FormatInfo(subtype).name;
    reader.asShorts =
        e != std::end(kEncodings) && e->shorts && info.samplerate == common::kSampleRateHz;
    // FLAC, whose subtype is the depth it decodes to, decodes in frames all the same.
    const size_t sampleBytes =
        e != std::end(kEncodings) && container != SF_FORMAT_FLAC ? e->sampleBytes : 0;
    const auto channels = static_cast<size_t>(info.channels);
    reader.chunkFrames = sampleBytes == 0
                             ? kDecodedChunkFrames
                             : std::max<size_t>(1, kChunkBytes / (channels * sampleBytes));
    d.channels = info.channels;
    d.rate = info.samplerate;
    d.channel = channel;
    d.resampled = info.samplerate != common::kSampleRateHz;
}

SNDFILE* OpenSound(RecordingReader& reader, ByteSource& source, SF_INFO& info) {
    // libsndfile keeps a copy of the callbacks, and the address of the reader.
    SF_VIRTUAL_IO io{VioLength, VioSeek, VioRead, nullptr, VioTell};
    source.at = 0;
    reader.emptyReads = 0;
    reader.tellsUnread = 0;
    reader.opening = true;
    SNDFILE* sound = sf_open_virtual(&io, SFM_READ, &info, &reader);
    reader.opening = false;
    if (sound != nullptr && InCircles(reader)) {
        sf_close(sound);
        return nullptr;
    }
    return sound;
}

// A WAV whose data chunk declares no bytes (a writer that could not go back) holds its samples all
// the same: libsndfile would read none, so they are read raw in its layout from after the header.
bool ReopenUnsizedData(RecordingReader& reader, ByteSource& source, SF_INFO& info) {
    const int container = info.format & SF_FORMAT_TYPEMASK;
    const int subtype = info.format & SF_FORMAT_SUBMASK;
    const bool raw = subtype == SF_FORMAT_PCM_U8 || subtype == SF_FORMAT_PCM_16 ||
                     subtype == SF_FORMAT_PCM_24 || subtype == SF_FORMAT_PCM_32 ||
                     subtype == SF_FORMAT_FLOAT || subtype == SF_FORMAT_DOUBLE;
    if (info.frames != 0 || (container != SF_FORMAT_WAV && container != SF_FORMAT_WAVEX) || !raw)
        return true;
    const bool swapped = sf_command(reader.sound, SFC_RAW_DATA_NEEDS_ENDSWAP, nullptr, 0) != 0;
    const bool bigEndian = (std::endian::native == std::endian::big) != swapped;
    SF_INFO data{};
    data.samplerate = info.samplerate;
    data.channels = info.channels;
    data.format = SF_FORMAT_RAW | subtype | (bigEndian ? SF_ENDIAN_BIG : SF_ENDIAN_LITTLE);
    sf_close(reader.sound);
    // The samples are read on their own, from where the header ends.
    source.origin += source.at;
    source.at = 0;
    reader.sound = OpenSound(reader, source, data);
    if (reader.sound == nullptr) return false;
    info.frames = data.frames;
    return true;
}

// libsndfile's reason, to stand inside a sentence: without its closing full stop.
std::string LibraryReason(SNDFILE* sound) {
    std::string reason = sf_strerror(sound);
    while (!reason.empty() && (reason.back() == '.' || reason.back() == ' ')) reason.pop_back();
    return reason;
}

// Reads up to `frames` frames at the input's rate into `shorts` or `floats`; returns them counted
// as ReadRecording counts bytes.
int64_t ReadFrames(RecordingReader& reader, size_t frames, std::string& error) {
    const auto wanted = static_cast<sf_count_t>(std::min(frames, reader.chunkFrames));
    const sf_count_t got = reader.asShorts
                               ? sf_readf_short(reader.sound, reader.shorts.data(), wanted)
                               : sf_readf_float(reader.sound, reader.floats.data(), wanted);
    if (got > 0) {
        reader.framesRead += got;
        return got;
    }
    if (reader.source->readErrno != 0) {
        error = Fill(kRecordingTexts.readError, {Reason(reader.source->readErrno)});
        return -1;
    }
    if (sf_error(reader.sound) != SF_ERR_NO_ERROR) reader.stoppedBy = LibraryReason(reader.sound);
    return 0;
}

int64_t ReadResampled(RecordingReader& reader, uint8_t* bytes, size_t wanted, std::string& error) {
    const auto step = static_cast<size_t>(reader.description.channels);
    const auto pick = static_cast<size_t>(reader.description.channel - 1);
    size_t made = 0;
    while (made == 0 && !reader.finished) {
        if (reader.channelFrom == reader.channelTo && !reader.inputEnded) {
            const int64_t frames = ReadFrames(reader, reader.chunkFrames, error);
            if (frames < 0) return -1;
            for (size_t i = 0; i < static_cast<size_t>(frames); ++i) {
                reader.channel[i] = reader.floats[i * step + pick];
            }
            reader.channelFrom = 0;
            reader.channelTo = static_cast<size_t>(frames);
            reader.inputEnded = frames == 0;
        }
        size_t used = 0;
        // No input (a null buffer) tells the resampler to give out what it still holds.
        const soxr_error_t failed =
            soxr_process(reader.resampler,
                         reader.inputEnded ? nullptr : reader.channel.data() + reader.channelFrom,
                         reader.channelTo - reader.channelFrom, &used, reader.resampled.data(),
                         std::min(wanted, reader.resampled.size()), &made);
        if (failed != nullptr) {
            error = Fill(kRecordingTexts.resamplingFailed, {failed});
            return -1;
        }
        reader.channelFrom += used;
        for (size_t i = 0; i < made; ++i) {
            common::EncodeLe16(static_cast<uint16_t>(FloatToSample(reader.resampled[i])),
                               bytes + 2 * i);
        }
        reader.finished = reader.inputEnded && made == 0;
    }
    return static_cast<int64_t>(2 * made);
}

}  // namespace

bool ParseRawEncoding(const std::string& name, RawEncoding& encoding) {
    for (const RawEncodingName& n : kRawEncodings) {
        if (name == n.name) {
            encoding = n.encoding;
            return true;
        }
    }
    return false;
}

std::string DescribeAudio(const AudioDescription& audio) {
    std::string text = audio.encoding + ", ";
    text += audio.channels == 1   ? "mono"
            : audio.channels == 2 ? "stereo"
                                  : std::to_string(audio.channels) + " channels";
    text += ", " + std::to_string(audio.rate) + " Hz";
    if (audio.channels > 1) text += ", channel " + std::to_string(audio.channel);
    if (audio.resampled) text += ", resampled to " + std::to_string(common::kSampleRateHz) + " Hz";
    return text;
}

// libsndfile gives integer data as floats in [-1, 1) (x / 2^(bits - 1), exact for 24-bit data); its
// own float-to-short conversion scales by 32767, which would move every sample above half scale.
int16_t FloatToSample(float value) {
    // Selects rather than branches, so that a loop of them runs in vector registers.
    float scaled = value * 32768.0f;
    scaled = scaled == scaled ? scaled : 0.0f;  // NaN
    scaled = scaled < -32768.0f ? -32768.0f : scaled;
    scaled = scaled > 32767.0f ? 32767.0f : scaled;
    // Adding and taking away 1.5 * 2^23 leaves a float of at most 2^22 rounded to the nearest
    // integer (halves to even), in plain IEEE arithmetic.
    constexpr float kRounder = 12582912.0f;
    return static_cast<int16_t>((scaled + kRounder) - kRounder);
}

RecordingOpen OpenRecording(RecordingReader& reader, ByteSource& source, const RawLayout* raw,
                            int32_t channel, std::string& error) {
    CloseRecording(reader);
    reader = RecordingReader{};
    reader.source = &source;
    SF_INFO info{};
    if (raw != nullptr) {
        info.samplerate = raw->rate;
        info.channels = raw->channels;
        info.format = SF_FORMAT_RAW | kRawEncodings[static_cast<size_t>(raw->encoding)].subtype |
                      SF_ENDIAN_LITTLE;
    }
    reader.sound = OpenSound(reader, source, info);
    if (reader.sound == nullptr || !ReopenUnsizedData(reader, source, info)) {
        const bool inCircles = InCircles(reader);
        const int code = sf_error(reader.sound);
        error = inCircles ? kRecordingTexts.headerInCircles : LibraryReason(reader.sound);
        CloseRecording(reader);
        return code == SF_ERR_UNRECOGNISED_FORMAT && !inCircles ? RecordingOpen::NotRecognised
                                                                : RecordingOpen::CannotRead;
    }
    source.keeping = false;
    Describe(reader, info, channel);
    if (info.samplerate < kMinSampleRate || info.samplerate > kMaxSampleRate) {
        error = Fill(kRecordingTexts.rateOutside,
                     {std::to_string(info.samplerate), std::to_string(kMinSampleRate),
                      std::to_string(kMaxSampleRate)});
        return RecordingOpen::CannotRead;
    }
    if (channel < 1 || channel > info.channels) {
        error = Fill(kRecordingTexts.noSuchChannel,
                     {std::to_string(info.channels), info.channels == 1 ? "" : "s",
                      std::to_string(channel)});
        return RecordingOpen::NoSuchChannel;
    }
    // A length that only stands for "unknown" (libsndfile's own, or one reckoned from it) is no
    // declared length: it is beyond any real recording.
    constexpr int64_t kNoRealLength = int64_t{1} << 48;
    reader.declaredFrames = info.frames > 0 && info.frames < kNoRealLength ? info.frames : -1;

    const auto channels = static_cast<size_t>(info.channels);
    if (reader.asShorts) {
        reader.shorts.resize(reader.chunkFrames * channels);
    } else {
        reader.floats.resize(reader.chunkFrames * channels);
    }
    if (reader.description.resampled) {
        soxr_error_t failed = nullptr;
        const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
        const soxr_quality_spec_t quality = soxr_quality_spec(kResampleQuality, 0);
        const soxr_runtime_spec_t runtime = soxr_runtime_spec(1);
        reader.resampler = soxr_create(info.samplerate, common::kSampleRateHz, 1, &failed, &io,
                                       &quality, &runtime);
        if (reader.resampler == nullptr || failed != nullptr) {
            error = Fill(kRecordingTexts.cannotResample, {failed != nullptr ? failed : ""});
            return RecordingOpen::CannotRead;
        }
        reader.channel.resize(reader.chunkFrames);
        reader.resampled.resize(kResampledChunk);
    }
    return RecordingOpen::Opened;
}

int64_t ReadRecording(RecordingReader& reader, uint8_t* bytes, size_t capacity,
                      std::string& error) {
    const size_t wanted = capacity / 2;
    if (wanted == 0 || reader.finished) return 0;
    if (reader.resampler != nullptr) return ReadResampled(reader, bytes, wanted, error);
    const int64_t frames = ReadFrames(reader, wanted, error);
    if (frames < 0) return -1;
    reader.finished = frames == 0;
    const auto step = static_cast<size_t>(reader.description.channels);
    const auto pick = static_cast<size_t>(reader.description.channel - 1);
    const auto count = static_cast<size_t>(frames);
    if (reader.asShorts) {
        for (size_t i = 0; i < count; ++i) {
            const auto value = static_cast<uint16_t>(reader.shorts[i * step + pick]);
            common::EncodeLe16(value, bytes + 2 * i);
        }
    } else {
        for (size_t i = 0; i < count; ++i) {
            const auto value = static_cast<uint16_t>(FloatToSample(reader.floats[i * step + pick]));
            common::EncodeLe16(value, bytes + 2 * i);
        }
    }
    return 2 * frames;
}

void CloseRecording(RecordingReader& reader) {
    if (reader.resampler != nullptr) soxr_delete(reader.resampler);
    reader.resampler = nullptr;
    if (reader.sound != nullptr) sf_close(reader.sound);
    reader.sound = nullptr;
}

}  // namespace analyze
