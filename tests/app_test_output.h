// Output capture for the app's unit tests: a real FILE* the code under test prints to, read
// back as one string.
#pragma once

#include <cstdio>
#include <string>

#include "scratch_file.h"

struct CapturedOutput {
    FILE* file = ScratchFile();

    CapturedOutput() = default;
    CapturedOutput(const CapturedOutput&) = delete;
    CapturedOutput& operator=(const CapturedOutput&) = delete;
    ~CapturedOutput() {
        if (file != nullptr) std::fclose(file);
    }

    std::string Text() const { return ScratchText(file); }
};
