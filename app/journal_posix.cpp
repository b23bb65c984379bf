// POSIX side of the journal: plain descriptors, so that a write's outcome is known to the byte
// (a stdio stream that fails half-way leaves unknown bytes behind), and fsync for the disk.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "app/journal.h"

namespace app {

int64_t WriteSome(int file, const uint8_t* data, size_t bytes, int& error) {
    for (;;) {
        const ssize_t written = write(file, data, bytes);
        if (written > 0) return written;
        if (written < 0 && errno == EINTR) continue;
        error = written < 0 ? errno : EIO;
        return -1;
    }
}

int SyncFile(int file) {
    return fsync(file) == 0 ? 0 : errno;
}

bool IsOutOfRoom(int error) {
    // EFBIG: the process's file-size limit (RLIMIT_FSIZE, with SIGXFSZ ignored) or the file
    // system's largest file.
    return error == ENOSPC || error == EDQUOT || error == EFBIG;
}

void CloseFile(int file) {
    close(file);
}

int SyncPath(const char* path) {
    // Read-only and non-blocking: Linux syncs through any descriptor of the file, and opening a
    // FIFO this way does not wait for a writer.
    const int file = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (file < 0) return errno;
    int error = SyncFile(file);
    close(file);
    // EINVAL: a device or a pipe, which holds nothing for a disk.
    if (error == EINVAL) error = 0;
    return error;
}

std::string TemporaryDirectory() {
    const char* dir = std::getenv("TMPDIR");
    std::string path = dir != nullptr && *dir != '\0' ? dir : "/tmp";
    if (path.back() != '/') path += '/';
    return path;
}

}  // namespace app
