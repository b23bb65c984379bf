// The few file operations of vorlank-analyze that the C and C++ libraries do not offer portably
// (file_access_posix.cpp, file_access_win.cpp), and the system's reasons as text. No shared state.
#pragma once

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

namespace analyze {

// The system's text for an errno value; EIO's for 0 (a failure that set none).
inline std::string Reason(int errorNumber) {
    return std::strerror(errorNumber != 0 ? errorNumber : EIO);
}

// True when `path` leads to the very file `stream` writes (/dev/stdout for standard output): a
// second stream of its own would truncate what the first wrote.
bool IsSameOpenFile(const char* path, std::FILE* stream);

// True when `path` ("-": standard input) is a pipe or FIFO, which ends when its writer ends.
bool IsPipe(const char* path);

// Moves `file` to `offset` bytes from its start, beyond the 2 GB of a 32-bit `long` (Windows).
bool SeekFile(std::FILE* file, uint64_t offset);

// Puts standard input into binary mode (Windows' text mode would drop CR bytes and stop at 0x1A).
bool SetStdinBinary();

}  // namespace analyze
