#include <sys/stat.h>
#include <unistd.h>

#include "analyze/file_access.h"

namespace analyze {

bool IsSameOpenFile(const char* path, std::FILE* stream) {
    struct stat named {};
    struct stat open {};
    return stat(path, &named) == 0 && fstat(fileno(stream), &open) == 0 &&
           named.st_dev == open.st_dev && named.st_ino == open.st_ino;
}

bool IsPipe(const char* path) {
    struct stat info {};
    const int got = std::strcmp(path, "-") == 0 ? fstat(STDIN_FILENO, &info) : stat(path, &info);
    return got == 0 && S_ISFIFO(info.st_mode);
}

bool SeekFile(std::FILE* file, uint64_t offset) {
    return offset <= static_cast<uint64_t>(INT64_MAX) &&
           fseeko(file, static_cast<off_t>(offset), SEEK_SET) == 0;
}

bool SetStdinBinary() {
    return true;
}

}  // namespace analyze
