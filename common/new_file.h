// Creating a file only where nothing of its name stands yet, for the log's journal and the
// analyzer's temporary files. No shared state; any thread.
#pragma once

namespace common {

// Creates `path` for writing in binary mode if nothing of that name exists (never through a link,
// never over a file). Returns a C runtime descriptor, or -1 with `error` set to an errno value
// (EEXIST for a name that is taken). On Windows the file may be deleted while open, so a console
// handler can remove it while another thread writes it.
int CreateNewFile(const char* path, int& error);

#ifdef _WIN32
// The C library's errno value for a Win32 error of a file's creation, write or flush, for the
// messages; the C runtime does not export its own table. EIO for any other.
int ErrnoOfWin32Error(unsigned long error);
#endif

}  // namespace common
