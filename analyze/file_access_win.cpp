#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <windows.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

#include "analyze/file_access.h"

namespace {

// The errno of the reasons CreateFile gives for a file it cannot create.
int ErrnoOf(DWORD error) {
    switch (error) {
        case ERROR_FILE_EXISTS:
        case ERROR_ALREADY_EXISTS:
            return EEXIST;
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_NAME:
        case ERROR_BAD_NETPATH:
            return ENOENT;
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
        case ERROR_WRITE_PROTECT:
            return EACCES;
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL:
            return ENOSPC;
        case ERROR_TOO_MANY_OPEN_FILES:
            return EMFILE;
        default:
            return EIO;
    }
}

}  // namespace

// Shareable for deletion, unlike what the C runtime's _open creates: the console handler of the
// signal guard deletes the temporary file while the main thread still has it open.
std::FILE* CreateNewFile(const char* path) {
    const HANDLE handle =
        CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        errno = ErrnoOf(GetLastError());
        return nullptr;
    }
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_WRONLY | _O_BINARY);
    if (fd < 0) {
        CloseHandle(handle);
        return nullptr;
    }
    std::FILE* file = _fdopen(fd, "wb");
    if (file == nullptr) _close(fd);
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
