#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <windows.h>

#include "analyze/file_access.h"

namespace analyze {

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
