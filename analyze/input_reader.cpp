#include "analyze/input_reader.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string_view>
#include <system_error>

#include "analyze/file_access.h"
#include "analyze/texts.h"
#include "common/little_endian.h"

namespace analyze {

namespace {

constexpr size_t kEntryBytes = 4;
// Bytes that opening reads, to classify the input and to tell an empty one.
constexpr size_t kHeadBytes = 12;

bool Fail(InputReader& reader, std::string message, InputFailure failure = InputFailure::BadInput) {
    reader.error = std::move(message);
    reader.failure = failure;
    return false;
}

// What a file that opens with known bytes is. `readable`: a container libsndfile reads (it may
// still refuse a codec inside); otherwise one that no library here reads.
struct Signature {
    size_t at;
    std::string_view bytes;
    const char* name;
    bool readable;
};

constexpr Signature kSignatures[] = {
    {0, "RIFF", "a WAV recording", true},
    {0, "RIFX", "a WAV recording", true},
    {0, "RF64", "an RF64 recording", true},
    {0, "BW64", "a BW64 recording", true},
    {0, "riff", "a W64 recording", true},
    {0, "FORM", "an AIFF recording", true},
    {0, "caff", "a CAF recording", true},
    {0, "fLaC", "a FLAC recording", true},
    {0, "OggS", "an Ogg file", true},
    {0, "ID3", "an MP3 file", true},
    {0, ".snd", "an AU recording", true},
    {4, "ftyp", "an MP4/M4A file (AAC audio, as phones and Windows' Voice Recorder save it)",
     false},
    {0, "#!AMR", "an AMR recording (as phones' voice recorders save it)", false},
    {0, std::string_view("\x30\x26\xB2\x75\x8E\x66\xCF\x11", 8), "a Windows Media (WMA) file",
     false},
    {0, "\x1A\x45\xDF\xA3", "a Matroska or WebM file", false},
    {0, "MAC ", "a Monkey's Audio (APE) file", false},
    {0, "wvpk", "a WavPack file", false},
};

const Signature* FindSignature(const uint8_t* head, size_t got) {
    for (const Signature& s : kSignatures) {
        if (got >= s.at + s.bytes.size() &&
            std::memcmp(head + s.at, s.bytes.data(), s.bytes.size()) == 0) {
            return &s;
        }
    }
    return nullptr;
}

// A four-character code: the first four bytes printable ASCII, as the signatures of most audio
// containers are. As a run log's first entry it would be a run of more than three hours.
bool PrintableCode(const uint8_t* head, size_t got) {
    return got >= 4 && std::all_of(head, head + 4, [](uint8_t c) { return c >= 0x20 && c < 0x7F; });
}

// A RIFF or IFF container of another form than audio (an AVI, a WebP): its form names it.
std::string OtherForm(const uint8_t* head, size_t got) {
    const bool riff =
        got >= 12 && std::memcmp(head, "RIFF", 4) == 0 && std::memcmp(head + 8, "WAVE", 4) != 0;
    const bool iff = got >= 12 && std::memcmp(head, "FORM", 4) == 0 &&
                     std::memcmp(head + 8, "AIFF", 4) != 0 &&
                     std::memcmp(head + 8, "AIFC", 4) != 0 &&
                     std::memcmp(head + 8, "8SVX", 4) != 0 && std::memcmp(head + 8, "16SV", 4) != 0;
    if (!riff && !iff) return "";
    std::string form;
    for (int i = 8; i < 12; ++i)
        form += (head[i] >= 0x20 && head[i] < 0x7F) ? static_cast<char>(head[i]) : '?';
    return Fill(riff ? kInputTexts.otherRiff : kInputTexts.otherIff, {form});
}

// What no run log holds at entry `index`, with `zeros` zero entries since the last run (counted on
// here); empty when `value` could stand there.
std::string EntryFault(int32_t value, int64_t index, int64_t& zeros) {
    if (value < 0) {
        return Fill(kInputTexts.negativeEntry, {std::to_string(index), std::to_string(value)});
    }
    if (value == 0) ++zeros;
    if (value > 0 && zeros > 0) return Fill(kInputTexts.zeroEntry, {std::to_string(index - zeros)});
    return "";
}

// What no run log holds, in the first entries; empty when they could begin one.
std::string NoLogStart(const uint8_t* head, size_t got) {
    int64_t zeros = 0;
    for (size_t i = 0; i + kEntryBytes <= got; i += kEntryBytes) {
        const auto value = static_cast<int32_t>(common::DecodeLe32(head + i));
        std::string fault = EntryFault(value, static_cast<int64_t>(i / kEntryBytes), zeros);
        if (!fault.empty()) return fault;
    }
    return "";
}

// A file name as a command line takes it: quoted when it holds anything but the plainest
// characters.
std::string Quoted(const std::string& name) {
    const bool plain = !name.empty() && std::all_of(name.begin(), name.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) != 0 ||
               std::strchr("._-/+:\\", c) != nullptr;
    });
    return plain ? name : "\"" + name + "\"";
}

// The ffmpeg line that turns `name` into a WAV recording this tool reads.
std::string ConvertLine(const std::string& name) {
    if (name == "-") return kInputTexts.convertStdin;
    const std::filesystem::path path(name);
    std::filesystem::path out = path;
    out.replace_extension(path.extension() == ".wav" ? ".converted.wav" : ".wav");
    return Fill(kInputTexts.convertFile,
                {Quoted(name), Quoted(out.string()), Quoted(out.string())});
}

std::string NotMultipleOfFour(uint64_t size) {
    return Fill(kInputTexts.notMultipleOfFour,
                {std::to_string(size) + (size == 1 ? " byte" : " bytes")});
}

bool OpenLog(InputReader& reader, const InputRequest& request) {
    if (request.channel != 0) {
        return Fail(reader, kInputTexts.logHasNoChannels, InputFailure::NoSuchChannel);
    }
    reader.kind = InputKind::RunLog;
    reader.source.keeping = false;
    reader.source.at = 0;
    if (reader.source.seekable && reader.source.size % kEntryBytes != 0) {
        return Fail(reader, NotMultipleOfFour(reader.source.size));
    }
    return true;
}

// `signature` and `noLogStart` (NoLogStart of the first bytes) tell what else the input could be.
bool OpenSamples(InputReader& reader, const InputRequest& request, const std::string& name,
                 const Signature* signature, const std::string& noLogStart) {
    std::string why;
    const RecordingOpen opened =
        OpenRecording(reader.recording, reader.source, request.raw ? &request.layout : nullptr,
                      request.channel != 0 ? request.channel : 1, why);
    switch (opened) {
        case RecordingOpen::Opened:
            reader.kind = request.raw ? InputKind::Raw : InputKind::Recording;
            return true;
        case RecordingOpen::NoSuchChannel:
            return Fail(reader, why, InputFailure::NoSuchChannel);
        case RecordingOpen::CannotRead:
        case RecordingOpen::NotRecognised:
            break;
    }
    if (request.raw) return Fail(reader, Fill(kInputTexts.rawUnreadable, {why}));
    // A recording's signature makes it one, even when libsndfile cannot make out the rest.
    if (opened == RecordingOpen::CannotRead || signature != nullptr) {
        return Fail(reader, Fill(kInputTexts.unreadable,
                                 {signature != nullptr ? signature->name : "a recording", why,
                                  ConvertLine(name)}));
    }
    if (noLogStart.empty()) return OpenLog(reader, request);
    return Fail(reader, Fill(kInputTexts.unknownFormat,
                             {noLogStart, kInputTexts.rawHint, ConvertLine(name)}));
}

// The kind from the first 12 bytes: a container no library here reads is refused with the ffmpeg
// line; a signature, four printable characters or a start no log has is offered to libsndfile; the
// rest is a run log, never offered (a first run could match a weak signature such as MPEG's sync).
// An empty file is a log of no runs; a stream empty from the start is a recorder that never wrote.
bool Classify(InputReader& reader, const InputRequest& request, const std::string& name) {
    std::array<uint8_t, kHeadBytes> head{};
    const size_t got = ReadBytes(reader.source, head.data(), head.size());
    if (reader.source.readErrno != 0) {
        return Fail(reader, Fill(kInputTexts.readError, {Reason(reader.source.readErrno)}));
    }
    if (got == 0 && !reader.source.seekable) {
        return Fail(reader, kInputTexts.empty, InputFailure::Empty);
    }
    if (request.raw) return OpenSamples(reader, request, name, nullptr, "");
    if (got == 0) return OpenLog(reader, request);
    const Signature* signature = FindSignature(head.data(), got);
    const std::string otherForm = OtherForm(head.data(), got);
    if (!otherForm.empty()) return Fail(reader, otherForm);
    if (signature != nullptr && !signature->readable) {
        return Fail(reader, Fill(kInputTexts.noLibrary, {signature->name, ConvertLine(name)}));
    }
    const std::string noLogStart = NoLogStart(head.data(), got);
    if (signature != nullptr || PrintableCode(head.data(), got) || !noLogStart.empty()) {
        return OpenSamples(reader, request, name, signature, noLogStart);
    }
    return OpenLog(reader, request);
}

}  // namespace

bool OpenInputStream(InputReader& reader, std::FILE* file, int64_t knownSize,
                     const InputRequest& request, const char* name) {
    CloseInput(reader);
    reader = InputReader{};
    StartBytes(reader.source, file, knownSize);
    return Classify(reader, request, name);
}

bool OpenInput(InputReader& reader, const char* path, const InputRequest& request) {
    CloseInput(reader);
    reader = InputReader{};
    if (std::strcmp(path, "-") == 0) {
        if (!SetStdinBinary()) return Fail(reader, kInputTexts.notBinary);
        return OpenInputStream(reader, stdin, -1, request, path);
    }
    std::error_code ec;
    const std::filesystem::path fsPath(path);
    if (std::filesystem::is_directory(fsPath, ec)) {
        return Fail(reader, Fill(kInputTexts.cannotRead, {Reason(EISDIR)}));
    }
    errno = 0;
    std::FILE* file = std::fopen(path, "rb");
    if (file == nullptr) return Fail(reader, Fill(kInputTexts.cannotOpen, {Reason(errno)}));
    int64_t size = -1;
    if (std::filesystem::is_regular_file(fsPath, ec)) {
        const uintmax_t bytes = std::filesystem::file_size(fsPath, ec);
        if (!ec) size = static_cast<int64_t>(bytes);
    }
    const bool opened = OpenInputStream(reader, file, size, request, path);
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
        const size_t got = ReadBytes(reader.source, block.data(), want);
        if (reader.source.readErrno != 0) {
            reader.error = Fill(kInputTexts.logReadError, {Reason(reader.source.readErrno)});
            return -1;
        }
        for (size_t i = 0; i + kEntryBytes <= got; i += kEntryBytes) {
            const auto value = static_cast<int32_t>(common::DecodeLe32(&block[i]));
            const std::string fault = EntryFault(value, reader.entriesRead++, reader.pendingZeros);
            if (!fault.empty()) {
                reader.error = Fill(value < 0 ? kInputTexts.notLog : kInputTexts.notIntactLog,
                                    {fault, kInputTexts.rawHint});
                return -1;
            }
            if (value > 0) runs[out++] = value;
        }
        if (got < want) {
            // The end of the input: a stream shows only here whether it held whole entries.
            if (got % kEntryBytes != 0) {
                reader.error = NotMultipleOfFour(reader.source.at);
                return -1;
            }
            break;
        }
    }
    return static_cast<int64_t>(out);
}

int64_t ReadSampleBytes(InputReader& reader, uint8_t* bytes, size_t capacity) {
    if (capacity < 2) return 0;  // room for no sample, which says nothing of the end
    const int64_t got = ReadRecording(reader.recording, bytes, capacity, reader.error);
    if (got != 0) return got;
    const RecordingReader& r = reader.recording;
    const auto span = [&](int64_t frames) {
        char text[64];
        std::snprintf(text, sizeof text, "%.3f s (%lld sample frame%s)",
                      Seconds(frames, r.description.rate), static_cast<long long>(frames),
                      frames == 1 ? "" : "s");
        return std::string(text);
    };
    if (!r.stoppedBy.empty()) {
        if (r.framesRead == 0) {
            reader.error = Fill(kInputTexts.undecodable, {r.stoppedBy});
            return -1;
        }
        reader.note = Fill(kInputTexts.decoderGaveUp, {span(r.framesRead), r.stoppedBy});
    } else if (reader.source.seekable && r.declaredFrames > r.framesRead) {
        reader.note = Fill(kInputTexts.headerLonger, {span(r.framesRead), span(r.declaredFrames)});
    }
    return 0;
}

void CloseInput(InputReader& reader) {
    CloseRecording(reader.recording);
    if (reader.source.file != nullptr && reader.ownsFile) std::fclose(reader.source.file);
    reader.source.file = nullptr;
}

}  // namespace analyze
