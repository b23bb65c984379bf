// Recordings and raw samples read through libsndfile (any format it reads) and brought to what the
// slicer takes: one channel of 16-bit samples at 44 100 Hz, every depth on the 16-bit scale, any
// other rate through libsoxr. Threads: a reader belongs to one caller.
#pragma once

#include <sndfile.h>
#include <soxr.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "analyze/byte_source.h"

namespace analyze {

// The sample encodings that raw input takes, in the order of kRawEncodings.
enum class RawEncoding {
    U8,
    S16LE,
    S24LE,
    S32LE,
    Float32LE,
};

// Each raw encoding, indexed by RawEncoding: its name as parec and paplay name it, and its
// libsndfile subtype.
struct RawEncodingName {
    RawEncoding encoding;
    const char* name;
    int subtype;
};

inline constexpr RawEncodingName kRawEncodings[] = {
    {RawEncoding::U8, "u8", SF_FORMAT_PCM_U8},
    {RawEncoding::S16LE, "s16le", SF_FORMAT_PCM_16},
    {RawEncoding::S24LE, "s24le", SF_FORMAT_PCM_24},
    {RawEncoding::S32LE, "s32le", SF_FORMAT_PCM_32},
    {RawEncoding::Float32LE, "float32le", SF_FORMAT_FLOAT},
};

// Raw samples as the command line describes them; the defaults are what vorlank captures.
struct RawLayout {
    RawEncoding encoding = RawEncoding::S16LE;
    int32_t rate = 44100;  // samples per second per channel
    int32_t channels = 1;
};

// "u8" -> U8 and so on; false for a name that is none of them.
bool ParseRawEncoding(const std::string& name, RawEncoding& encoding);

// Rates a recording may have: far below and far above any that carries the signal, and the
// bounds keep the resampler's work in proportion to the input.
inline constexpr int32_t kMinSampleRate = 1000;
inline constexpr int32_t kMaxSampleRate = 1000000;
// libsndfile's limit.
inline constexpr int32_t kMaxChannels = 1024;

// What an input holds and how it is read, for the report.
struct AudioDescription {
    std::string kind = "raw";               // short name: "wav", "flac", "ogg", ..., "raw"
    std::string container = "raw samples";  // "WAV recording", "FLAC recording", "raw samples"
    std::string encoding = "16-bit PCM";    // "24-bit PCM", "32-bit float", "Vorbis", ...
    int32_t channels = 1;
    int32_t rate = 44100;  // samples per second per channel, as recorded
    int32_t channel = 1;   // the one analysed, 1-based
    bool resampled = false;
};

// "16-bit PCM, mono, 44100 Hz"; "32-bit float, stereo, 48000 Hz, channel 2, resampled to 44100 Hz"
std::string DescribeAudio(const AudioDescription& audio);

// The reasons a recording cannot be read, for the input's messages (input_reader.h); each %s takes
// the next word in turn.
inline constexpr struct RecordingTexts {
    const char* readError = "read error in the samples: %s";
    const char* rateOutside =
        "a sample rate of %s Hz, outside the %s to %s Hz that can be analysed";
    // The channel count, "s" unless it is 1, the channel asked for
    const char* noSuchChannel = "it has %s channel%s, so there is no channel %s";
    const char* cannotResample = "cannot resample it: %s";
    const char* resamplingFailed = "resampling failed: %s";
    const char* headerInCircles = "its header leads round in circles";
} kRecordingTexts;

struct RecordingReader {
    SNDFILE* sound = nullptr;
    ByteSource* source = nullptr;
    AudioDescription description;
    int64_t declaredFrames = -1;  // sample frames the header promises; -1 when it says none
    int64_t framesRead = 0;       // sample frames read so far
    bool asShorts = false;        // read as libsndfile's shorts rather than floats
    soxr_t resampler = nullptr;   // null at 44 100 Hz
    size_t chunkFrames = 0;       // sample frames per read from libsndfile
    std::vector<int16_t> shorts;  // asShorts: one read, all channels
    std::vector<float> floats;    // otherwise: one read, all channels
    std::vector<float> channel;   // resampling: the analysed channel, waiting for the resampler
    size_t channelFrom = 0;       // channel[channelFrom .. channelTo) not yet resampled
    size_t channelTo = 0;
    std::vector<float> resampled;  // one call's output of the resampler
    bool inputEnded = false;       // libsndfile has no more frames; the resampler drains
    bool finished = false;
    std::string stoppedBy;  // why decoding ended before the input did (libsndfile's reason)
    bool opening = false;   // libsndfile is parsing the header
    int emptyReads = 0;     // reads that found nothing during the last open
    int tellsUnread = 0;    // positions asked for since the last read, during the last open
};

enum class RecordingOpen {
    Opened,
    NotRecognised,  // libsndfile knows no format it could be
    CannotRead,     // a format libsndfile knows, which it or the analysis cannot read
    NoSuchChannel,  // the channel asked for is not there
};

// Opens the recording that `source` holds from its position 0: raw samples in `raw`'s layout
// when `raw` is given, else whatever libsndfile recognises. `channel` is 1-based. Unless Opened,
// `error` says why.
RecordingOpen OpenRecording(RecordingReader& reader, ByteSource& source, const RawLayout* raw,
                            int32_t channel, std::string& error);

// Reads up to `capacity` bytes (even) of 16-bit little-endian samples at 44 100 Hz. Returns the
// count, 0 at the end, or -1 with `error` set on a read error of the input. A decoder that gives
// up part-way (a file cut inside a compressed frame) ends the samples there, with its reason in
// `stoppedBy`.
int64_t ReadRecording(RecordingReader& reader, uint8_t* bytes, size_t capacity, std::string& error);

void CloseRecording(RecordingReader& reader);

// A float sample on the 16-bit scale: value * 32768 to the nearest integer, clipped.
int16_t FloatToSample(float value);

}  // namespace analyze
