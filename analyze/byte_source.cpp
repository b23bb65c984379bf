#include "analyze/byte_source.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>

#include "analyze/file_access.h"

namespace analyze {

namespace {

// How far back a stream's bytes are kept while a header is parsed, and how far ahead a step may
// go: far more than any header, far less than an hour's samples.
constexpr size_t kLookBackBytes = size_t{1} << 20;

// Copies `count` bytes, taken at input byte `from`, into the ring.
void Keep(ByteSource& source, const uint8_t* bytes, size_t count, uint64_t from) {
    if (count >= kLookBackBytes) {
        bytes += count - kLookBackBytes;
        from += count - kLookBackBytes;
        count = kLookBackBytes;
    }
    const size_t slot = static_cast<size_t>(from % kLookBackBytes);
    const size_t first = std::min(count, kLookBackBytes - slot);
    std::memcpy(source.kept.get() + slot, bytes, first);
    std::memcpy(source.kept.get(), bytes + first, count - first);
    source.keptTo = from + count;
    if (source.keptTo > kLookBackBytes)
        source.keptFrom = std::max(source.keptFrom, source.keptTo - kLookBackBytes);
}

// Reads on from where the file stands.
size_t Take(ByteSource& source, uint8_t* into, size_t count) {
    errno = 0;
    const size_t got = std::fread(into, 1, count, source.file);
    if (got < count && std::ferror(source.file)) {
        source.readErrno = errno != 0 ? errno : EIO;
    }
    if (source.keeping && got > 0) Keep(source, into, got, source.filePos);
    source.filePos += got;
    return got;
}

size_t ReadFile(ByteSource& source, uint8_t* into, size_t count) {
    const uint64_t from = source.origin + source.at;
    if (from != source.filePos) {
        if (!SeekFile(source.file, from)) return 0;
        source.filePos = from;
    }
    const size_t got = Take(source, into, count);
    source.at += got;
    return got;
}

size_t ReadStream(ByteSource& source, uint8_t* into, size_t count) {
    uint64_t from = source.origin + source.at;
    size_t done = 0;
    if (from < source.filePos) {
        if (from < source.keptFrom || from >= source.keptTo) return 0;
        done = static_cast<size_t>(std::min<uint64_t>(count, source.keptTo - from));
        for (size_t i = 0; i < done; ++i)
            into[i] = source.kept[static_cast<size_t>((from + i) % kLookBackBytes)];
        from += done;
        source.at += done;
        // Bytes taken after the keeping stopped are gone.
        if (done == count || from < source.filePos) return done;
    }
    if (from - source.filePos > kLookBackBytes) return done;
    std::array<uint8_t, 4096> skipped{};
    while (source.filePos < from) {
        const auto step =
            static_cast<size_t>(std::min<uint64_t>(from - source.filePos, skipped.size()));
        if (Take(source, skipped.data(), step) < step) return done;
    }
    const size_t got = Take(source, into + done, count - done);
    source.at += got;
    return done + got;
}

}  // namespace

void StartBytes(ByteSource& source, std::FILE* file, int64_t knownSize) {
    source = ByteSource{};
    source.file = file;
    source.seekable = knownSize >= 0;
    source.size = source.seekable ? static_cast<uint64_t>(knownSize) : 0;
    if (!source.seekable) {
        source.kept = std::make_unique_for_overwrite<uint8_t[]>(kLookBackBytes);
        source.keeping = true;
    }
}

size_t ReadBytes(ByteSource& source, void* into, size_t count) {
    auto* bytes = static_cast<uint8_t*>(into);
    return source.seekable ? ReadFile(source, bytes, count) : ReadStream(source, bytes, count);
}

}  // namespace analyze
