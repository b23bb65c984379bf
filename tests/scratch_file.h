// A scratch FILE* for output that a test reads back: open for update, private to this process,
// and gone once closed.
//
// Not std::tmpfile() on Windows: the C runtime there (msvcrt, and wine's copy of it) picks a
// free name, deletes the file and opens the name again, so two test processes running side by
// side can be handed the same file, or none at all. A name built from the process id is
// unique among running processes; the runtime's "D" mode flag deletes the file on close.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

#ifdef _WIN32
#include <process.h>

#include <atomic>
#include <filesystem>
#endif

inline std::FILE* ScratchFile() {
#ifdef _WIN32
    static std::atomic<unsigned> serial{0};
    const std::filesystem::path path =
        std::filesystem::temp_directory_path() /
        ("vorlank_scratch_" + std::to_string(_getpid()) + "_" + std::to_string(serial++));
    std::FILE* file = _wfopen(path.c_str(), L"w+bD");
#else
    std::FILE* file = std::tmpfile();
#endif
    if (file == nullptr) {
        std::perror("scratch file for a test's output");
        std::abort();
    }
    return file;
}

// Everything written to a scratch file so far, read from its start.
inline std::string ScratchText(std::FILE* file) {
    std::rewind(file);
    std::string text;
    char chunk[4096];
    size_t n = 0;
    while ((n = std::fread(chunk, 1, sizeof chunk, file)) > 0) text.append(chunk, n);
    return text;
}
