// The bytes of vorlank-analyze's input, for the run-log reader and for libsndfile (virtual I/O):
// a regular file and a stream read by the same code; a stream keeps its latest bytes while a header
// is parsed, so libsndfile may step back and a little ahead. Threads: one caller; no shared state.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>

namespace analyze {

struct ByteSource {
    std::FILE* file = nullptr;
    bool seekable = false;  // a regular file, whose size is known
    uint64_t size = 0;      // seekable: bytes in the file
    uint64_t origin = 0;    // byte of the input where position 0 lies
    // Position of the next read, from origin: set it to seek; whether the bytes there can be had
    // shows when they are read.
    uint64_t at = 0;
    uint64_t filePos = 0;  // byte of the input the file stands at: for a stream, the bytes taken
    // Stream: the latest bytes taken while they are kept, a ring indexed by input byte.
    std::unique_ptr<uint8_t[]> kept;
    uint64_t keptFrom = 0;  // input bytes [keptFrom, keptTo) stand in `kept`
    uint64_t keptTo = 0;
    // Cleared once the header is read: from then on a stream's bytes go straight through, and only
    // those kept so far can be read again.
    bool keeping = false;
    int readErrno = 0;  // errno of a failed read; 0 while none failed
};

// Starts reading `file` from its first byte. `knownSize` is its size, or -1 for a stream, whose
// bytes are then kept from the start.
void StartBytes(ByteSource& source, std::FILE* file, int64_t knownSize);

// Reads up to `count` bytes at the current position. Fewer at the end of the input, after a read
// error (readErrno set), at a position that a stream can no longer go back to, or further ahead
// in a stream than a step may go.
size_t ReadBytes(ByteSource& source, void* into, size_t count);

}  // namespace analyze
