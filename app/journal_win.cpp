// Windows side of the journal: the C runtime's descriptors, created with _open, whose writes and
// flushes go straight to the file's handle (WriteFile, FlushFileBuffers), which says to the byte
// what was written and why not. _write does not: when a filling disk takes only part of a buffer,
// wine's C runtime returns -1 (EINVAL) although the part is in the file, and the C runtime maps
// ERROR_DISK_FULL but not ERROR_HANDLE_DISK_FULL to ENOSPC.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cerrno>

#include "app/journal.h"
#include "common/new_file.h"

namespace app {
namespace {

HANDLE HandleOf(int file) {
    return reinterpret_cast<HANDLE>(_get_osfhandle(file));
}

}  // namespace

int64_t WriteSome(int file, const uint8_t* data, size_t bytes, int& error) {
    // WriteFile takes a DWORD; the journal's chunks are far below that.
    DWORD written = 0;
    if (WriteFile(HandleOf(file), data, static_cast<DWORD>(bytes), &written, nullptr) == 0) {
        error = common::ErrnoOfWin32Error(GetLastError());
        return -1;
    }
    if (written > 0) return written;
    // Nothing taken and no error: what the C runtime, too, reads as a full disk.
    error = ENOSPC;
    return -1;
}

int SyncFile(int file) {
    return FlushFileBuffers(HandleOf(file)) != 0 ? 0 : common::ErrnoOfWin32Error(GetLastError());
}

bool IsOutOfRoom(int error) {
    return error == ENOSPC;
}

void CloseFile(int file) {
    _close(file);
}

int SyncPath(const char* path) {
    // Write access is what FlushFileBuffers needs; without _O_TRUNC the file stays as it is.
    const int file = _open(path, _O_WRONLY | _O_BINARY | _O_NOINHERIT);
    if (file < 0) return errno;
    // A device such as NUL holds nothing for a disk (and the flush's error would not say so).
    const int error = GetFileType(HandleOf(file)) == FILE_TYPE_DISK ? SyncFile(file) : 0;
    _close(file);
    return error;
}

std::string TemporaryDirectory() {
    char path[MAX_PATH + 1];
    const DWORD length = GetTempPathA(sizeof path, path);
    // GetTempPath ends its answer with a backslash; without one, the working folder is used.
    if (length == 0 || length > MAX_PATH) return std::string();
    return std::string(path, length);
}

}  // namespace app
