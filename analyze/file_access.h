// The few file operations of vorlank-analyze that the C and C++ libraries do not offer portably.
// One implementation file per platform, chosen by the build.
//
// Threads: no shared state; each call stands alone.
#pragma once

#include <cstdint>
#include <cstdio>

// Creates `path` and opens it for writing in binary mode, failing when anything already stands
// there, so two writers can never end up in the same file. Returns null with errno set.
std::FILE* CreateNewFile(const char* path);

// True when `path` leads to the very file that `stream` writes to, as /dev/stdout does for the
// standard output. Writing to such a path through a second stream of its own would truncate what
// the first stream wrote and interleave the two out of order.
bool IsSameOpenFile(const char* path, std::FILE* stream);

// True when `path` ("-": standard input) is a pipe or FIFO: another process writes it, and its end
// comes when that process ends.
bool IsPipe(const char* path);

// Moves `file` to `offset` bytes from its start, beyond the 2 GB that a 32-bit `long` (Windows)
// reaches. Returns false when the file cannot seek there.
bool SeekFile(std::FILE* file, uint64_t offset);

// Puts standard input into binary mode, so samples and run logs arrive byte for byte; on Windows a
// text-mode stream would drop CR bytes and stop at the first 0x1A. Call before the first read.
bool SetStdinBinary();
