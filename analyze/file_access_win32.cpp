#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <sys/stat.h>

#include "analyze/file_access.h"

std::FILE* CreateNewFile(const char* path) {
    const int fd = _open(path, _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
    if (fd < 0) return nullptr;
    std::FILE* file = _fdopen(fd, "wb");
    if (file == nullptr) _close(fd);
    return file;
}

// Windows has no /dev/stdout; a path never names an open standard stream there.
bool IsSameOpenFile(const char*, std::FILE*) {
    return false;
}

bool SetStdinBinary() {
    return _setmode(_fileno(stdin), _O_BINARY) != -1;
}
