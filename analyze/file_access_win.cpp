#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <windows.h>

#include "analyze/file_access.h"
#include "common/new_file.h"

namespace analyze {

std::FILE* CreateNewStream(const char* path) {
    int error = 0;
    const int fd = common::CreateNewFile(path, error);
    std::FILE* file = fd < 0 ? nullptr : _fdopen(fd, "wb");
    if (fd >= 0 && file == nullptr) _close(fd);
    if (fd < 0) errno = error;
    return file;
}

// Windows has no /dev/stdout; a path never names an open standard stream there.
bool IsSameOpenFile(const char*, std::FILE*) {
    return false;
}

// A pipe on a path (\\.\pipe\NAME) is a server's, not a pipeline's; only standard input is asked.
bool IsPipe(const char* path) {
    return std::strcmp(path, "-") == 0 &&
           GetFileType(GetStdHandle(STD_INPUT_HANDLE)) == FILE_TYPE_PIPE;
}

bool SeekFile(std::FILE* file, uint64_t offset) {
    return offset <= static_cast<uint64_t>(INT64_MAX) &&
           _fseeki64(file, static_cast<__int64>(offset), SEEK_SET) == 0;
}

bool SetStdinBinary() {
    return _setmode(_fileno(stdin), _O_BINARY) != -1;
}

}  // namespace analyze
