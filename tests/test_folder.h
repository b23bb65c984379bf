// Files for the app's tests: a fresh folder per test, and a file's bytes read back whole.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

// A folder of its own for the running test (named after it and the process, so parallel test
// processes never meet), created empty and removed with everything in it afterwards.
struct TempDir {
    std::filesystem::path path;
    TempDir() {
        const auto* info = testing::UnitTest::GetInstance()->current_test_info();
        std::string name = std::string(info->test_suite_name()) + "_" + info->name();
        for (char& c : name) {
            if (c == '/') c = '_';
        }
        path = std::filesystem::temp_directory_path() /
               ("vorlank_" + name + "_" + std::to_string(getpid()));
        std::filesystem::remove_all(path);
        std::filesystem::create_directories(path);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    ~TempDir() { std::filesystem::remove_all(path); }
};

inline std::string FileText(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline std::vector<uint8_t> FileBytes(const std::filesystem::path& path) {
    const std::string text = FileText(path);
    return {text.begin(), text.end()};
}
