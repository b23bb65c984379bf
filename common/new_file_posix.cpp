#include "common/new_file.h"

#include <fcntl.h>

#include <cerrno>

namespace common {

int CreateNewFile(const char* path, int& error) {
    // O_EXCL: never an existing file, and never through a symbolic link, which matters in a
    // directory that everyone may write to. The mode is 0666 less the umask, as fopen creates.
    const int file = open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (file < 0) error = errno;
    return file;
}

}  // namespace common
