// The process's stderr sent to a file of its own for as long as a StderrCapture lives, for tests
// of code that reports on stderr from any thread; Lines() reads back what was written so far.
// Linux and Windows (MinGW, run under wine) alike.
#pragma once

#include <fcntl.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#ifdef _WIN32
#include <io.h>
#include <process.h>
#else
#include <unistd.h>
#endif

#ifndef O_BINARY
#define O_BINARY 0
#endif

class StderrCapture {
public:
    StderrCapture() : path(FreshPath()), saved(SaveStderr()) {
        const int file = open(path.string().c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_BINARY, 0600);
        dup2(file, fileno(stderr));
        close(file);
    }
    ~StderrCapture() {
        std::fflush(stderr);
        dup2(saved, fileno(stderr));
        close(saved);
        std::error_code ignored;
        std::filesystem::remove(path, ignored);
    }
    StderrCapture(const StderrCapture&) = delete;
    StderrCapture& operator=(const StderrCapture&) = delete;

    std::vector<std::string> Lines() const {
        std::fflush(stderr);
        std::ifstream file(path);
        std::vector<std::string> lines;
        for (std::string line; std::getline(file, line);) lines.push_back(line);
        return lines;
    }

private:
    static std::filesystem::path FreshPath() {
        static std::atomic<unsigned> serial{0};
        return std::filesystem::temp_directory_path() /
               ("vorlank_stderr_" + std::to_string(getpid()) + "_" + std::to_string(serial++));
    }
    // A descriptor for the stderr of before, with everything written to it so far flushed.
    static int SaveStderr() {
        std::fflush(stderr);
        return dup(fileno(stderr));
    }

    std::filesystem::path path;
    int saved = -1;
};
