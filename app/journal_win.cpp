// Windows side of the journal: the C runtime's descriptors (_open, _write), whose writes report
// exactly how much was written, and _commit (FlushFileBuffers) for the disk.
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include <cerrno>

#include "app/journal.h"

int CreateNewFile(const std::string& path, int& error) {
    // _O_EXCL: never an existing file. _O_BINARY: the bytes as they are, no "\r\n".
    const int file = _open(path.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT,
                           _S_IREAD | _S_IWRITE);
    if (file < 0) error = errno;
    return file;
}

int64_t WriteSome(int file, const uint8_t* data, size_t bytes, int& error) {
    // _write takes an unsigned int; the journal's chunks are far below that.
    const int written = _write(file, data, static_cast<unsigned>(bytes));
    if (written > 0) return written;
    error = written < 0 ? errno : ENOSPC;
    return -1;
}

int SyncFile(int file) {
    return _commit(file) == 0 ? 0 : errno;
}

void CloseFile(int file) {
    _close(file);
}

int SyncPath(const char* path) {
    // Write access is what FlushFileBuffers needs; without _O_TRUNC the file stays as it is.
    const int file = _open(path, _O_WRONLY | _O_BINARY | _O_NOINHERIT);
    if (file < 0) return errno;
    // A device such as NUL holds nothing for a disk (and _commit's error would not say so).
    const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(file));
    const int error = GetFileType(handle) == FILE_TYPE_DISK ? SyncFile(file) : 0;
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
