// Input of vorlank-analyze: a run log of `vorlank L`, a recording or raw samples, from a file, a
// FIFO or standard input, told apart by content (raw only when asked for) and read front to back
// in bounded chunks. Threads: a reader belongs to one caller and stays where it is while open
// (libsndfile holds the address of its bytes).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "analyze/byte_source.h"
#include "analyze/recording.h"

namespace analyze {

enum class InputKind {
    RunLog,
    Recording,
    Raw,
};

// How the command line asks for the input to be read.
struct InputRequest {
    bool raw = false;     // the input is raw samples in `layout`
    RawLayout layout;     // raw only
    int32_t channel = 0;  // 1-based channel of a recording or raw stream; 0: none asked for
};

enum class InputFailure {
    None,
    Empty,          // a stream that ended before its first byte
    BadInput,       // unreadable, corrupt, or in a format that cannot be read
    NoSuchChannel,  // the channel asked for is not in the input
};

// The input's messages on standard error, after "vorlank-analyze: INPUT: "; each %s takes the next
// word in turn.
inline constexpr struct InputTexts {
    const char* cannotOpen = "cannot open it: %s";
    const char* cannotRead = "cannot read it: %s";
    const char* notBinary = "cannot switch it to binary mode";
    const char* readError = "read error: %s";
    const char* empty = "empty: the stream ended before its first byte";
    const char* otherRiff = "a RIFF file of form '%s', not a recording";
    const char* otherIff = "an IFF file of form '%s', not a recording";
    // The first %s names the kind of file (a kSignatures name)
    const char* noLibrary = "%s, which no library here reads; convert it first: %s";
    const char* unreadable = "%s that cannot be read (%s); convert it first: %s";
    const char* rawUnreadable = "raw samples that cannot be read: %s";
    const char* unknownFormat =
        "%s: neither a run log nor a recording in a format known here; %s; "
        "other recordings can be converted: %s";
    const char* rawHint =
        "raw samples, as arecord -t raw and parec write them, need --raw, with "
        "--format, --rate and --channels as they were recorded";
    const char* convertStdin = "ffmpeg -i - -f wav - | vorlank-analyze -";
    const char* convertFile = "ffmpeg -i %s %s && vorlank-analyze %s";
    const char* logHasNoChannels = "a run log has no channels to pick from (--channel)";
    const char* notMultipleOfFour =
        "size of %s is not a multiple of 4: not a run log of 32-bit entries, or one cut short";
    const char* negativeEntry = "entry %s is negative (%s)";
    const char* zeroEntry = "entry %s is 0 but runs follow it";
    // After negativeEntry or zeroEntry, then rawHint
    const char* notLog = "%s: not a run log; %s";
    const char* notIntactLog =
        "%s: a run is at least one sample long, so this is no intact run log; %s";
    const char* logReadError = "read error in the run log: %s";
    const char* undecodable = "the samples cannot be decoded: %s";
    // The %s are spans, each "1.500 s (66150 sample frames)"
    const char* decoderGaveUp =
        "cut short: read %s, then the decoder gave up (%s); analysed as far as it goes";
    const char* headerLonger =
        "cut short: read %s of the %s its header declares; analysed as far as it goes";
} kInputTexts;

struct InputReader {
    ByteSource source;
    bool ownsFile = false;  // false for standard input, which is never closed
    InputKind kind = InputKind::RunLog;
    // Log: entries taken from the input so far, zeros included
    int64_t entriesRead = 0;
    // Log: zeros since the last run; the tail, unless a run still follows
    int64_t pendingZeros = 0;
    // Recording and raw
    RecordingReader recording;
    // Why the last call failed; one line, without the input's name
    std::string error;
    InputFailure failure = InputFailure::None;
    // Recording and raw, once read to the end: one line when it was cut short
    std::string note;
};

// Opens `path` ("-": standard input) and classifies it, as `request` asks. Returns false with
// `reader.error` and `reader.failure` set when the input cannot be read as asked; the input is
// closed again then.
bool OpenInput(InputReader& reader, const char* path, const InputRequest& request);

// The same for an input that is already open; `knownSize` is its size in bytes, or -1 for a stream
// whose size is not known. `name` is the input as the user named it ("-" for standard input), for
// the command lines that messages suggest. The reader does not close `file`.
bool OpenInputStream(InputReader& reader, std::FILE* file, int64_t knownSize,
                     const InputRequest& request, const char* name);

// Run log: reads up to `capacity` runs (lengths in samples, each at least 1) into `runs`. Returns
// how many, 0 once the log is exhausted (its zero tail then stands in `pendingZeros`), or -1 with
// `reader.error` set for a negative entry, a zero inside the log, a size that is not a multiple of
// 4 or a read failure.
int64_t ReadLogRuns(InputReader& reader, int32_t* runs, size_t capacity);

// Recording and raw: reads up to `capacity` bytes of samples (16-bit little-endian, one channel,
// 44 100 Hz) into `bytes`. Returns the byte count (always even), 0 at the end of the samples (with
// `note` set when the input was cut short), or -1 with `reader.error` set when the input cannot be
// read.
int64_t ReadSampleBytes(InputReader& reader, uint8_t* bytes, size_t capacity);

void CloseInput(InputReader& reader);

}  // namespace analyze
